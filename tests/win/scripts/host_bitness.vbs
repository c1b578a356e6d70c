' Prints the script host's processor architecture: x86 in a 32-bit host, AMD64 in a 64-bit one.
WScript.Echo CreateObject("WScript.Shell").Environment("Process")("PROCESSOR_ARCHITECTURE")
WScript.Echo "DONE"
