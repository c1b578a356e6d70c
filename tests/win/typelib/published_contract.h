// The published automation surface, written out by hand so that any drift in
// the IDL or in the shaping tool fails a test. Types are spelled as the tests
// spell a TYPEDESC: long, BSTR, VARIANT_BOOL, a type's name, "*" for a
// pointer, SAFEARRAY(x).
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <vector>

namespace velcorin::contract {

struct Arg {
  const wchar_t* name;
  std::wstring type;
  USHORT flags;
};

inline Arg In(const wchar_t* name, const wchar_t* type) { return {name, type, PARAMFLAG_FIN}; }
inline Arg InOut(const wchar_t* name, const wchar_t* type) { return {name, type, PARAMFLAG_FIN | PARAMFLAG_FOUT}; }
inline Arg Opt(const wchar_t* name, const wchar_t* type) { return {name, type, PARAMFLAG_FIN | PARAMFLAG_FOPT}; }
inline Arg Ret(const wchar_t* type, const wchar_t* name = L"RHS") {
  return {name, std::wstring(type) + L"*", PARAMFLAG_FOUT | PARAMFLAG_FRETVAL};
}

struct Member {
  int slot;
  MEMBERID id;
  const wchar_t* name;
  INVOKEKIND kind;
  std::vector<Arg> args;
};

// A stored-value property: get in `slot`, put by value in the next.
inline std::vector<Member> Property(int slot, MEMBERID id, const wchar_t* name, const wchar_t* type) {
  return {{slot, id, name, INVOKE_PROPERTYGET, {Ret(type)}},
          {slot + 1, id, name, INVOKE_PROPERTYPUT, {In(L"RHS", type)}}};
}

struct Interface {
  const wchar_t* name;
  const wchar_t* iid;
  int slots;
  bool dual;
  std::vector<Member> members;
};

struct Class {
  const wchar_t* name;
  const wchar_t* clsid;
  const wchar_t* defaultInterface;
};

struct Constant {
  const wchar_t* name;
  LONG value;
};

struct Enumeration {
  const wchar_t* name;
  const wchar_t* guid;
  std::vector<Constant> constants;
};

inline std::vector<Member> Join(std::initializer_list<std::vector<Member>> parts) {
  std::vector<Member> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

constexpr const wchar_t* kLibId = L"{DCD7460F-8E56-44E0-8A20-DDC0BDF8FC67}";
constexpr const wchar_t* kLibName = L"Velcorin";
constexpr const wchar_t* kLibHelp = L"Halvern USB Device IO Library";

inline const std::vector<Interface>& Interfaces() {
  static const std::vector<Interface> all = {
      {L"_Device",
       L"{27649429-6327-4760-B4FB-B88A83ADC12E}",
       17,
       true,
       {{7, 0x68030001, L"DeviceInfo", INVOKE_PROPERTYGET, {Ret(L"_DevInfo*")}},
        {8, 0x68030000, L"IsDeviceOpen", INVOKE_PROPERTYGET, {Ret(L"VARIANT_BOOL")}},
        {9, 0x60030002, L"CloseDev", INVOKE_FUNC, {}},
        {10, 0x60030003, L"EnterCalMode", INVOKE_FUNC, {In(L"Passwd", L"BSTR"), Ret(L"VARIANT_BOOL")}},
        {11,
         0x60030004,
         L"EnumDevices",
         INVOKE_FUNC,
         {In(L"outList", L"_Collection*"), In(L"Filter", L"_Collection*"), Ret(L"VARIANT_BOOL")}},
        {12, 0x60030005, L"ExitCalMode", INVOKE_FUNC, {Ret(L"VARIANT_BOOL")}},
        {13, 0x60030006, L"OpenDev", INVOKE_FUNC, {In(L"DevPath", L"BSTR"), Ret(L"VARIANT_BOOL")}},
        {14, 0x60030007, L"QueryDev", INVOKE_FUNC, {In(L"Pkt", L"_Packet*"), Ret(L"VARIANT_BOOL")}},
        {15, 0x60030008, L"ReadDev", INVOKE_FUNC, {In(L"Pkt", L"_Packet*"), Ret(L"VARIANT_BOOL")}},
        {16, 0x60030009, L"WriteDev", INVOKE_FUNC, {In(L"Pkt", L"_Packet*"), Ret(L"VARIANT_BOOL")}}}},
      {L"_Packet", L"{59560B6A-F249-47EB-8FE1-B2D17C2E663B}", 19, true,
       Join({Property(7, 0x40030000, L"DevType", L"long"), Property(9, 0x40030001, L"Channel", L"long"),
             Property(11, 0x40030002, L"OpType", L"OpTypeEnum"), Property(13, 0x40030003, L"OpCode", L"OpCodeBaseEnum"),
             Property(15, 0x40030004, L"EndCode", L"EndCodeBaseEnum"), Property(17, 0x40030005, L"Data", L"BSTR")})},
      {L"_Chooser",
       L"{3C4A811D-3722-4F28-8A8B-5D547F84E770}",
       13,
       true,
       {{7, 0x40030003, L"Filter", INVOKE_PROPERTYGET, {Ret(L"_Collection*")}},
        {9, 0x40030003, L"Filter", INVOKE_PROPERTYPUTREF, {In(L"RHS", L"_Collection*")}},
        {10, 0x68030001, L"DevicePath", INVOKE_PROPERTYGET, {Ret(L"BSTR")}},
        {11, 0x68030000, L"IsDeviceSelected", INVOKE_PROPERTYGET, {Ret(L"VARIANT_BOOL")}},
        {12, 0x60030002, L"ShowDialog", INVOKE_FUNC, {Ret(L"VARIANT_BOOL")}}}},
      {L"_DevInfo", L"{A1AF815A-0C86-4073-BDC7-1CCDC5710486}", 25, true,
       Join({Property(7, 0x40030001, L"ChannelCount", L"long"),
             Property(9, 0x40030002, L"Description", L"BSTR"),
             Property(11, 0x40030003, L"DevicePath", L"BSTR"),
             Property(13, 0x40030004, L"FirmwareVersion", L"BSTR"),
             Property(15, 0x40030005, L"ModelNumber", L"BSTR"),
             Property(17, 0x40030006, L"ProductID", L"long"),
             Property(19, 0x40030007, L"SerialNumber", L"BSTR"),
             Property(21, 0x40030008, L"VendorID", L"long"),
             {{23, 0x68030000, L"ChannelNames", INVOKE_PROPERTYGET, {Ret(L"SAFEARRAY(BSTR)")}},
              {24, 0x68030000, L"ChannelNames", INVOKE_PROPERTYPUT, {InOut(L"RHS", L"SAFEARRAY(BSTR)*")}}}})},
      {L"_EnumFilter", L"{2ABB3749-3501-40C2-B87C-60BB497E6BDA}", 14, true,
       Join({Property(7, 0x40030000, L"FilterAction", L"FilterActionEnum"),
             Property(9, 0x40030001, L"FilterTarget", L"FilterTargetEnum"),
             {{11, 0x40030002, L"Tokens", INVOKE_PROPERTYGET, {Ret(L"_Collection*")}},
              {13, 0x40030002, L"Tokens", INVOKE_PROPERTYPUTREF, {In(L"RHS", L"_Collection*")}}}})},
      // The automation runtime's collection interface, by its own IID and DISPIDs.
      {L"_Collection",
       L"{A4C46780-499F-101B-BB78-00AA00383CBB}",
       12,
       false,
       {{7, 0, L"Item", INVOKE_FUNC, {In(L"Index", L"VARIANT*"), Ret(L"VARIANT", L"pvarRet")}},
        {8,
         1,
         L"Add",
         INVOKE_FUNC,
         {In(L"Item", L"VARIANT*"), Opt(L"Key", L"VARIANT*"), Opt(L"Before", L"VARIANT*"), Opt(L"After", L"VARIANT*")}},
        {9, 2, L"Count", INVOKE_FUNC, {Ret(L"long", L"pi4")}},
        {10, 3, L"Remove", INVOKE_FUNC, {In(L"Index", L"VARIANT*")}},
        {11, DISPID_NEWENUM, L"_NewEnum", INVOKE_FUNC, {Ret(L"IUnknown*", L"ppunk")}}}},
  };
  return all;
}

inline const std::vector<Class>& Classes() {
  static const std::vector<Class> all = {
      {L"Device", L"{AB7E95F4-CA47-4CFC-960F-318EEF78D596}", L"_Device"},
      {L"Packet", L"{5B504EB3-F4C4-4FBB-B64D-2B073BF14F48}", L"_Packet"},
      {L"Chooser", L"{DCE94D41-62B0-48F2-8483-45D5A1E52467}", L"_Chooser"},
      {L"DevInfo", L"{A386C765-DC59-46F3-88A0-A51C3D360113}", L"_DevInfo"},
      {L"EnumFilter", L"{BD01D23B-3E72-471C-87C9-3D98CD492BEF}", L"_EnumFilter"},
  };
  return all;
}

inline const std::vector<Enumeration>& Enumerations() {
  static const std::vector<Enumeration> all = {
      {L"OpCodeBaseEnum",
       L"{18ADB175-8B2D-4C0C-BED9-09640219264E}",
       {{L"CmdModel", 0},
        {L"CmdSerial", 1},
        {L"CmdFwVer", 2},
        {L"CmdDevType", 3},
        {L"CmdChanCt", 4},
        {L"CmdIdentify", 5},
        {L"CmdDevDesc", 6},
        {L"CmdSave", 12},
        {L"CmdRecall", 13},
        {L"CmdPasswd", 14},
        {L"CmdRevert", 15}}},
      {L"EndCodeBaseEnum",
       L"{E6B7500F-2BB1-4AAE-ABE0-C50316C4A82D}",
       {{L"ErrOk", 0},
        {L"ErrDevType", 1},
        {L"ErrChannel", 2},
        {L"ErrOpType", 3},
        {L"ErrNotImpl", 4},
        {L"ErrPending", 5},
        {L"ErrBusy", 6},
        {L"ErrData", 7},
        {L"ErrSafety", 8},
        {L"ErrCalMode", 9}}},
      {L"OpTypeEnum",
       L"{D400CB4F-EFAF-4FCE-A791-DB97D3CBCFD7}",
       {{L"TypeRead", 1}, {L"TypeWrite", 2}, {L"TypeMin", 3}, {L"TypeMax", 4}}},
      {L"FilterActionEnum", L"{5AAD3C44-F6DF-4539-82D7-C8534E4C5ED6}", {{L"IncludeDevs", 0}, {L"ExcludeDevs", 1}}},
      {L"FilterTargetEnum",
       L"{9A3FC43D-B65B-457B-9555-B9834738AC98}",
       {{L"FilterByDeviceClass", 0}, {L"FilterByDeviceId", 1}}},
  };
  return all;
}

}  // namespace velcorin::contract
