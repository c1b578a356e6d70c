' Creates each class of the component and prints what it holds.
Option Explicit

Dim dev, info, pkt, filt, chooser
Set dev = CreateObject("Velcorin.Device")
Set info = dev.DeviceInfo
Set pkt = CreateObject("Velcorin.Packet")
Set filt = CreateObject("Velcorin.EnumFilter")
Set chooser = CreateObject("Velcorin.Chooser")

WScript.Echo "Device:     IsDeviceOpen=" & dev.IsDeviceOpen
WScript.Echo "DevInfo:    VendorID=&H" & Hex(info.VendorID) & " ProductID=" & info.ProductID & _
             " ChannelCount=" & info.ChannelCount & " ModelNumber=""" & info.ModelNumber & """"
WScript.Echo "Packet:     DevType=" & pkt.DevType & " Channel=" & pkt.Channel & " OpType=" & pkt.OpType & _
             " OpCode=" & pkt.OpCode & " EndCode=" & pkt.EndCode & " Data=""" & pkt.Data & """"
WScript.Echo "EnumFilter: FilterAction=" & filt.FilterAction & " FilterTarget=" & filt.FilterTarget & _
             " Tokens.Count=" & filt.Tokens.Count
WScript.Echo "Chooser:    IsDeviceSelected=" & chooser.IsDeviceSelected & " DevicePath=""" & _
             chooser.DevicePath & """ Filter.Count=" & chooser.Filter.Count
WScript.Echo "DONE"
