' EnumDevices from VBScript, with the component's own collections as outList
' and Filter, against the two instruments of enum_devices.ini.
' Check and CheckError come from check.vbs, which the build puts in front.

Function Clean(text)
  Clean = Replace(text, Chr(0), "")
End Function

Dim dev, found, filters, info, serials, path
Set dev = CreateObject("Velcorin.Device")

' The simulator listens again a moment after an enumeration has closed an instrument,
' and until then the instrument counts as busy and is left out. Enumerates until the
' expected number comes or 10 s have passed (a loaded machine).
Function ListUntil(want, list, filt)
  Dim t : t = Timer
  Do
    ListUntil = dev.EnumDevices(list, filt)
    If list.Count = want Or Timer - t > 10 Or Timer < t Then Exit Function
  Loop
End Function
Set found = CreateObject("Velcorin.Chooser").Filter
Set filters = CreateObject("Velcorin.EnumFilter").Tokens
found.Add "stale"
found.Add 42, "a key"

Check ListUntil(2, found, filters), "lists"
Check found.Count = 2, "two instruments, nothing stale: " & found.Count
serials = ""
For Each info In found
  serials = serials & Clean(info.SerialNumber) & " "
  path = info.DevicePath
  ' Every byte of the system's UTF-16 path one character: 2n + 3 characters.
  Check Len(path) Mod 2 = 1 And Mid(path, 2, 1) = Chr(0) And Right(path, 3) = Chr(0) & Chr(0) & Chr(0), _
        "path form of " & Clean(info.SerialNumber)
Next
Check InStr(serials, "SCR3001") > 0 And InStr(serials, "SCR1102") > 0, "both serials: " & serials

' Class filters take class values, type codes of the class and numeric text.
Dim f
Set f = CreateObject("Velcorin.EnumFilter")
f.Tokens.Add &H3001
filters.Add f
Check ListUntil(1, found, filters), "lists with a class filter"
Check found.Count = 1, "one driver: " & found.Count
Check Clean(found(1).SerialNumber) = "SCR3001", "the driver"
f.Tokens.Remove 1
f.Tokens.Add "&H1100"
ListUntil 1, found, filters
Check found.Count = 1, "one controller by hex text: " & found.Count
Check Clean(found(1).SerialNumber) = "SCR1102", "the controller"
path = found(1).DevicePath

' The caller's mistakes are run-time errors; the instrument is free afterwards.
On Error Resume Next
dev.EnumDevices Nothing, filters
Check Err.Number = 91, "outList Nothing: " & Err.Number
Err.Clear
dev.EnumDevices found, Nothing
Check Err.Number = 91, "Filter Nothing: " & Err.Number
Err.Clear
f.Tokens.Add 12289
filters.Add 5
ListUntil 2, found, filters
Check Err.Number = 0 And found.Count = 2, "the first filter decides before the number is reached: " & Err.Number
f.Tokens.Remove 1
f.Tokens.Remove 1
dev.EnumDevices found, filters
Check Err.Number = 13, "a number in Filter: " & Err.Number
Err.Clear
On Error GoTo 0

' A script's own collection class answers IDispatch alone: driven by name,
' as outList, Filter, a filter's Tokens and the Chooser's Filter.
Class ScriptList
  Private items
  Private Sub Class_Initialize
    Set items = CreateObject("Scripting.Dictionary")
  End Sub
  Public Property Get Count
    Count = items.Count
  End Property
  Public Function Item(i)
    If IsObject(items(i)) Then Set Item = items(i) Else Item = items(i)
  End Function
  Public Sub Add(x)
    items.Add items.Count + 1, x
  End Sub
  Public Sub Remove(i)
    Dim k
    For k = i To items.Count - 1
      If IsObject(items(k + 1)) Then Set items(k) = items(k + 1) Else items(k) = items(k + 1)
    Next
    items.Remove items.Count
  End Sub
End Class
Dim mine, myFilters, g, c
Set mine = New ScriptList : mine.Add "stale"
Set myFilters = New ScriptList
Set g = CreateObject("Velcorin.EnumFilter")
Set g.Tokens = New ScriptList : g.Tokens.Add &H1100
myFilters.Add g
Set c = CreateObject("Velcorin.Chooser")
Set c.Filter = myFilters
Check ListUntil(1, mine, c.Filter), "lists into a script's collections"
Check mine.Count = 1, "one controller in the script's list: " & mine.Count
Check Clean(mine.Item(1).SerialNumber) = "SCR1102", "the controller by the script's Tokens"
On Error Resume Next
dev.EnumDevices mine, CreateObject("Velcorin.Packet")
Check Err.Number = 13, "an object that is no collection: " & Err.Number
Err.Clear
On Error GoTo 0

' The simulator listens again a moment after a close: tried until it opens, for 10 s.
Dim other, opened, t
Set other = CreateObject("Velcorin.Device")
t = Timer
Do
  opened = other.OpenDev(path)
Loop Until opened Or Timer - t > 10 Or Timer < t
Check opened, "the controller opens after the errors"
other.CloseDev

WScript.Echo "DONE fails=" & fails
