// Lists the instruments that are plugged in, lists the laser diode drivers
// among them, then opens the first driver, asks it a question of our own and
// takes it into calibration mode and out again.
//   cscript //nologo list-devices.js [calibration password]

// JScript cannot read the type library's constants: these are its values.
var IncludeDevs = 0, FilterByDeviceClass = 0;
var TypeRead = 1, CmdFwVer = 2;

var password = WScript.Arguments.length > 0 ? WScript.Arguments(0) : "factory";  // the simulated instruments'

var dev = new ActiveXObject("Velcorin.Device");
// JScript has no Collection class: the component's self-creating collection
// properties hand out empty ones.
var found = new ActiveXObject("Velcorin.EnumFilter").Tokens;
var filters = new ActiveXObject("Velcorin.Chooser").Filter;

if (!dev.EnumDevices(found, filters)) {
  WScript.Echo("The system refused the device list.");
  WScript.Quit(1);
}
showList("Instruments", found);

// One filter that takes in four device classes. Any type code of a class
// stands for its class, so 0x3001 would do for 0x3000.
var drivers = new ActiveXObject("Velcorin.EnumFilter");
drivers.FilterAction = IncludeDevs;
drivers.FilterTarget = FilterByDeviceClass;
drivers.Tokens.Add(0x100);   // components
drivers.Tokens.Add(0x1000);  // modules
drivers.Tokens.Add(0x2000);  // evaluation boards
drivers.Tokens.Add(0x3000);  // instruments
filters.Add(drivers);
dev.EnumDevices(found, filters);
showList("Laser diode drivers", found);

if (found.Count > 0) useFirst(found.Item(1));
WScript.Echo("DONE");

function showList(title, list) {
  WScript.Echo(title + ": " + list.Count);
  for (var e = new Enumerator(list); !e.atEnd(); e.moveNext()) WScript.Echo("  " + describe(e.item()));
}

function describe(info) {
  return printable(info.ModelNumber) + " " + printable(info.SerialNumber) + " (" + printable(info.Description) +
         "), firmware " + printable(info.FirmwareVersion) + ", type 0x" + info.ProductID.toString(16).toUpperCase() +
         ", " + info.ChannelCount + " channel(s)";
}

function useFirst(info) {
  // The device path is opaque: hand it to OpenDev as it came.
  if (!dev.OpenDev(info.DevicePath)) {
    WScript.Echo("Could not open " + printable(info.SerialNumber) + " (in use elsewhere?)");
    return;
  }
  WScript.Echo("Opened " + printable(dev.DeviceInfo.SerialNumber));

  var pkt = new ActiveXObject("Velcorin.Packet");
  pkt.OpType = TypeRead;
  pkt.OpCode = CmdFwVer;
  if (dev.QueryDev(pkt))
    WScript.Echo("  firmware query: end code " + pkt.EndCode + ", data \"" + printable(pkt.Data) + "\"");
  else
    WScript.Echo("  firmware query: no answer");

  WScript.Echo("  calibration mode entered: " + dev.EnterCalMode(password));
  WScript.Echo("  calibration mode left: " + dev.ExitCalMode());
  dev.CloseDev();
  WScript.Echo("Closed; open now: " + dev.IsDeviceOpen);
}

// Instrument texts keep the zero bytes some firmware pads them with.
function printable(text) {
  return text.replace(/\0/g, "").replace(/^ +| +$/g, "");
}
