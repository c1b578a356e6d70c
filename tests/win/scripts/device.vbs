' A VBScript client of one simulated instrument: open by device path, the
' identity record, a query of its own, calibration mode, errors, close.
' Check and CheckError come from check.vbs, which the build puts in front.

' The device path as enumeration hands it out: every byte of the UTF-16LE path.
Function Widened(path)
  Dim i, s : s = ""
  For i = 1 To Len(path)
    s = s & Mid(path, i, 1) & Chr(0)
  Next
  Widened = s & Chr(0) & Chr(0) & Chr(0)
End Function

Dim env : Set env = CreateObject("WScript.Shell").Environment("PROCESS")
Dim path : path = Widened(env("VELCORIN_PATH_VBSDEV1"))

Dim dev : Set dev = CreateObject("Velcorin.Device")
Check Not dev.OpenDev(env("VELCORIN_PATH_VBSDEV1")), "a plain path does not open"
Check dev.OpenDev(path), "OpenDev"
Check dev.IsDeviceOpen, "IsDeviceOpen"
Dim info : Set info = dev.DeviceInfo
Check info.ModelNumber = "LDI-3105" And info.SerialNumber = "VBSDEV1", "model and serial"
Check info.ProductID = &H3105 And info.ChannelCount = 2, "type and channels"
Check info.DevicePath = path And Len(info.DevicePath) = 2 * Len(env("VELCORIN_PATH_VBSDEV1")) + 3, "path form"
Dim names : names = info.ChannelNames
' A string array (vbArray + vbString). Wine's script engines cannot index typed
' arrays, so the elements are checked by the C++ tests.
Check VarType(names) = 8200, "channel names are a string array"

Dim pkt : Set pkt = CreateObject("Velcorin.Packet")
pkt.OpCode = 2
Check dev.QueryDev(pkt), "QueryDev"
Check RTrim(pkt.Data) = "2.01" And pkt.EndCode = 0 And pkt.OpCode = 2, "reply in the packet: " & pkt.Data

Check Not dev.EnterCalMode("wrong"), "wrong password refused"
Check dev.EnterCalMode("secret"), "right password accepted"
Check dev.ExitCalMode(), "ExitCalMode"

On Error Resume Next
dev.QueryDev Nothing
Check Err.Number = 91, "Nothing as packet: " & Err.Number
Err.Clear
On Error GoTo 0
dev.CloseDev
Check Not dev.IsDeviceOpen, "closed"
Check Not dev.QueryDev(pkt), "no I/O when closed"

Dim bad : Set bad = CreateObject("Velcorin.Device")
On Error Resume Next
Dim opened : opened = bad.OpenDev(Widened(env("VELCORIN_PATH_VBSBAD1")))
Check Err.Number = 13 And Err.Description = "Type mismatch", "malformed type code: " & Err.Number & " " & Err.Description
Err.Clear
On Error GoTo 0
Check Not bad.IsDeviceOpen, "left closed after the error"
Check bad.DeviceInfo.ModelNumber = "BAD-1", "fields set before the error stay"

WScript.Echo "DONE fails=" & fails
