' Late-bound use of every class from VBScript: creation, defaults, every stored
' property, the self-creating collections, our collection, and errors.
' Check and CheckError come from check.vbs, which the build puts in front.

Dim pkt : Set pkt = CreateObject("Velcorin.Packet")
Check pkt.DevType = 0 And pkt.Channel = 0 And pkt.OpType = 1 And pkt.OpCode = 0 And pkt.EndCode = 0, "packet defaults"
Check pkt.Data = "" And TypeName(pkt.Data) = "String", "packet Data empty string"
pkt.DevType = -1 : pkt.Channel = 3 : pkt.OpType = 4 : pkt.OpCode = 42 : pkt.EndCode = 9 : pkt.Data = "hello"
Check pkt.DevType = -1 And pkt.Channel = 3 And pkt.OpType = 4 And pkt.OpCode = 42, "packet stores values"
Check pkt.EndCode = 9 And pkt.Data = "hello", "packet stores EndCode and Data"
pkt.Data = String(100000, "x")
Check Len(pkt.Data) = 100000, "long Data kept whole"

Dim info : Set info = CreateObject("Velcorin.DevInfo")
Check info.VendorID > 0 And info.ProductID = 0 And info.ChannelCount = 0, "devinfo numbers"
Check info.Description = "" And info.DevicePath = "" And info.FirmwareVersion = "", "devinfo strings"
Check info.ModelNumber = "" And info.SerialNumber = "", "devinfo strings 2"
info.ChannelCount = 2 : info.Description = "d" : info.DevicePath = "p" : info.FirmwareVersion = "f"
info.ModelNumber = "m" : info.ProductID = &H3105 : info.SerialNumber = "s" : info.VendorID = 1
Check info.ChannelCount = 2 And info.Description = "d" And info.DevicePath = "p", "devinfo stores 1"
Check info.FirmwareVersion = "f" And info.ModelNumber = "m" And info.ProductID = &H3105, "devinfo stores 2"
Check info.SerialNumber = "s" And info.VendorID = 1, "devinfo stores 3"

Dim filt : Set filt = CreateObject("Velcorin.EnumFilter")
Check filt.FilterAction = 0 And filt.FilterTarget = 0, "filter defaults"
filt.FilterAction = 1 : filt.FilterTarget = 1
Check filt.FilterAction = 1 And filt.FilterTarget = 1, "filter stores"
Dim t1 : Set t1 = filt.Tokens
Check t1.Count = 0, "tokens start empty"
Check filt.Tokens Is t1, "tokens same object twice"
Set filt.Tokens = Nothing
Check Not (filt.Tokens Is t1), "fresh tokens after Nothing"
Set filt.Tokens = t1
Check filt.Tokens Is t1, "tokens set by reference"

Dim ch : Set ch = CreateObject("Velcorin.Chooser")
Check ch.IsDeviceSelected = False And ch.DevicePath = "", "chooser defaults"
Check ch.Filter.Count = 0 And ch.Filter Is ch.Filter, "chooser filter self-creating"
On Error Resume Next
ch.DevicePath = "x"
CheckError 438, "DevicePath is read-only"
ch.IsDeviceSelected = True
CheckError 438, "IsDeviceSelected is read-only"
On Error GoTo 0

Dim dev : Set dev = CreateObject("Velcorin.Device")
Check dev.IsDeviceOpen = False, "device closed"
Check dev.DeviceInfo Is dev.DeviceInfo, "DeviceInfo same object"
Check dev.DeviceInfo.VendorID > 0, "DeviceInfo defaults"
On Error Resume Next
dev.IsDeviceOpen = True
CheckError 438, "IsDeviceOpen is read-only"
Set dev.DeviceInfo = info
CheckError 438, "DeviceInfo is read-only"
dev.NoSuchMember
CheckError 438, "unknown member"
On Error GoTo 0

' Our collection, as VBScript callers get it from Filter or Tokens.
Dim c : Set c = ch.Filter
c.Add "one"
c.Add "two", "K2"
c.Add "zero", , 1
c.Add "one-and-a-half", , , 2
Check c.Count = 4, "collection count"
Check c(1) = "zero" And c.Item(2) = "one" And c(3) = "one-and-a-half" And c("k2") = "two", "collection order and keys"
Dim item, seen : seen = ""
For Each item In c
  seen = seen & item & ";"
Next
Check seen = "zero;one;one-and-a-half;two;", "For Each in order: " & seen
c.Remove "K2"
c.Remove 1
Check c.Count = 2 And c(1) = "one", "collection remove"
c.Add filt
Check c(3) Is filt, "collection holds objects"
On Error Resume Next
c.Add "dup", "a" : c.Add "dup", "A"
CheckError 457, "duplicate key"
Dim x : x = c(99)
CheckError 9, "index out of range"
x = c("nope")
CheckError 5, "unknown key"
On Error GoTo 0

WScript.Echo "DONE fails=" & fails
