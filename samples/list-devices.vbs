' Lists the instruments that are plugged in, lists the laser diode drivers
' among them, then opens the first driver, asks it a question of our own and
' takes it into calibration mode and out again.
'   cscript //nologo list-devices.vbs [calibration password]
Option Explicit

' VBScript cannot read the type library's constants: these are its values.
Const IncludeDevs = 0, FilterByDeviceClass = 0
Const TypeRead = 1, CmdFwVer = 2

Dim password : password = "factory"   ' the simulated instruments' password
If WScript.Arguments.Count > 0 Then password = WScript.Arguments(0)

Dim dev, found, filters
Set dev = CreateObject("Velcorin.Device")
' VBScript has no Collection class: the component's self-creating collection
' properties hand out empty ones.
Set found = CreateObject("Velcorin.EnumFilter").Tokens
Set filters = CreateObject("Velcorin.Chooser").Filter

If Not dev.EnumDevices(found, filters) Then
  WScript.Echo "The system refused the device list."
  WScript.Quit 1
End If
ShowList "Instruments", found

' One filter that takes in four device classes. Any type code of a class
' stands for its class, so &H3001 would do for &H3000.
Dim drivers
Set drivers = CreateObject("Velcorin.EnumFilter")
drivers.FilterAction = IncludeDevs
drivers.FilterTarget = FilterByDeviceClass
drivers.Tokens.Add &H100   ' components
drivers.Tokens.Add &H1000  ' modules
drivers.Tokens.Add &H2000  ' evaluation boards
drivers.Tokens.Add &H3000  ' instruments
filters.Add drivers
dev.EnumDevices found, filters
ShowList "Laser diode drivers", found

If found.Count > 0 Then UseFirst found(1)
WScript.Echo "DONE"

Sub ShowList(title, list)
  Dim info
  WScript.Echo title & ": " & list.Count
  For Each info In list
    WScript.Echo "  " & Describe(info)
  Next
End Sub

Function Describe(info)
  Describe = Printable(info.ModelNumber) & " " & Printable(info.SerialNumber) & _
             " (" & Printable(info.Description) & "), firmware " & Printable(info.FirmwareVersion) & _
             ", type &H" & Hex(info.ProductID) & ", " & info.ChannelCount & " channel(s)"
End Function

Sub UseFirst(info)
  ' The device path is opaque: hand it to OpenDev as it came.
  If Not dev.OpenDev(info.DevicePath) Then
    WScript.Echo "Could not open " & Printable(info.SerialNumber) & " (in use elsewhere?)"
    Exit Sub
  End If
  WScript.Echo "Opened " & Printable(dev.DeviceInfo.SerialNumber)

  Dim pkt
  Set pkt = CreateObject("Velcorin.Packet")
  pkt.OpType = TypeRead
  pkt.OpCode = CmdFwVer
  If dev.QueryDev(pkt) Then
    WScript.Echo "  firmware query: end code " & pkt.EndCode & ", data """ & Printable(pkt.Data) & """"
  Else
    WScript.Echo "  firmware query: no answer"
  End If

  WScript.Echo "  calibration mode entered: " & dev.EnterCalMode(password)
  WScript.Echo "  calibration mode left: " & dev.ExitCalMode()
  dev.CloseDev
  WScript.Echo "Closed; open now: " & dev.IsDeviceOpen
End Sub

' Instrument texts keep the zero bytes some firmware pads them with.
Function Printable(text)
  Printable = Trim(Replace(text, Chr(0), ""))
End Function
