' Lets the user pick an instrument in the "Select Device" dialog, then opens it.
Option Explicit
Dim chooser, device
Set chooser = CreateObject("Velcorin.Chooser")
If chooser.ShowDialog() Then
  Set device = CreateObject("Velcorin.Device")
  If device.OpenDev(chooser.DevicePath) Then
    WScript.Echo "Opened " & device.DeviceInfo.ModelNumber & ", serial number " & device.DeviceInfo.SerialNumber
    device.CloseDev
  Else
    WScript.Echo "The chosen instrument did not open"
  End If
Else
  WScript.Echo "No instrument chosen"
End If
WScript.Echo "DONE"
