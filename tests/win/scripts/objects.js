// Late-bound use from JScript: creation of every class, properties, collections.
var fails = 0;
function check(ok, what) { if (!ok) { fails++; WScript.Echo("FAIL: " + what); } }

var pkt = new ActiveXObject("Velcorin.Packet");
check(pkt.DevType === 0 && pkt.OpType === 1 && pkt.Data === "", "packet defaults");
pkt.OpCode = 14; pkt.Data = "pw";
check(pkt.OpCode === 14 && pkt.Data === "pw", "packet stores");

var info = new ActiveXObject("Velcorin.DevInfo");
check(info.VendorID > 0 && info.ModelNumber === "", "devinfo defaults");
info.SerialNumber = "SN1";
check(info.SerialNumber === "SN1", "devinfo stores");

var filt = new ActiveXObject("Velcorin.EnumFilter");
check(filt.FilterAction === 0 && filt.FilterTarget === 0, "filter defaults");
var tokens = filt.Tokens;
tokens.Add(0x1200);
tokens.Add("0x1300");
check(filt.Tokens.Count === 2 && filt.Tokens.Count() === 2, "tokens count as property and method");
var e = new Enumerator(tokens), seen = [];
for (; !e.atEnd(); e.moveNext()) seen.push(e.item());
check(seen.join(",") === "4608,0x1300", "enumerator: " + seen.join(","));

var ch = new ActiveXObject("Velcorin.Chooser");
check(ch.IsDeviceSelected === false && ch.DevicePath === "" && ch.Filter.Count === 0, "chooser defaults");
ch.Filter.Add(filt);
check(ch.Filter.Item(1).FilterAction === 0, "filter holds an EnumFilter");

var dev = new ActiveXObject("Velcorin.Device");
check(dev.IsDeviceOpen === false, "device closed");
check(dev.DeviceInfo.VendorID === info.VendorID, "device info defaults");

var caught = 0;
try { ch.Filter.Item(5); } catch (err) { caught = err.number; }
check((caught & 0xFFFF) === 9, "error 9 from Item: " + caught);

WScript.Echo("DONE fails=" + fails);
