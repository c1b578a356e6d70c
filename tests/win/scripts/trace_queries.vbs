' Opens the instrument at the plain device path given first and queries its
' model as many times as the second argument says; for tracing tests.
Dim path, widened, i, dev, pkt
path = WScript.Arguments(0)
For i = 1 To Len(path)
  widened = widened & Mid(path, i, 1) & Chr(0)
Next
widened = widened & Chr(0) & Chr(0) & Chr(0)
Set dev = CreateObject("Velcorin.Device")
If Not dev.OpenDev(widened) Then
  WScript.Echo "FAIL open"
  WScript.Quit 1
End If
Set pkt = CreateObject("Velcorin.Packet")
For i = 1 To CLng(WScript.Arguments(1))
  pkt.OpType = 1
  pkt.OpCode = 0
  If Not dev.QueryDev(pkt) Then
    WScript.Echo "FAIL query " & i
    WScript.Quit 1
  End If
Next
dev.CloseDev
WScript.Echo "DONE"
