' Put in front of each test script by the build (Wine's VBScript can include
' nothing itself): Check, CheckError and the count of failures each script
' reports as "DONE fails=N".
Option Explicit
Dim fails : fails = 0

Sub Check(ok, what)
  If Not ok Then
    fails = fails + 1
    WScript.Echo "FAIL: " & what
  End If
End Sub

Sub CheckError(expected, what)
  Check Err.Number = expected, what & " (got " & Err.Number & " " & Err.Description & ")"
  Err.Clear
End Sub

