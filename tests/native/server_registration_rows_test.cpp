// The registry rows as data: keys and views as the system's registration
// writes them, merging as two bitnesses' registrations meet, and the WiX form
// the installer's build writes.
#include <gtest/gtest.h>

#include "installer/core/wix_registry.h"
#include "server/core/registry_rows.h"

namespace velcorin::registration {
namespace {

const Library kLibrary{L"{DCD7460F-8E56-44E0-8A20-DDC0BDF8FC67}", L"Help & more", 48, 10, 8, 0x409, true};

TEST(RegistryRows, VersionAndLocaleAreHexAsTheSystemWritesThem) {
  EXPECT_EQ(VersionKey(kLibrary), L"TypeLib\\{DCD7460F-8E56-44E0-8A20-DDC0BDF8FC67}\\30.a");
  EXPECT_EQ(PlatformKey(kLibrary), L"TypeLib\\{DCD7460F-8E56-44E0-8A20-DDC0BDF8FC67}\\30.a\\409\\win64");
  Library win32 = kLibrary;
  win32.win64 = false;
  win32.lcid = 0;
  EXPECT_EQ(PlatformKey(win32), L"TypeLib\\{DCD7460F-8E56-44E0-8A20-DDC0BDF8FC67}\\30.a\\0\\win32");
  const Rows itf = InterfaceRows(kLibrary, {L"{1}", L"_Device", L"{2}"});
  EXPECT_EQ(itf.back(), (Row{View::Own, L"Interface\\{1}\\TypeLib", L"Version", L"30.a"}));
}

// Every value COM needs to create a class by ProgID and to marshal its
// interface, each once and in its view: class and interface keys have one copy
// per bitness, everything else is one for both (a row in the wrong view
// registers one bitness only).
TEST(RegistryRows, WhatCreationAndMarshallingNeedEachInItsView) {
  Rows all = ClassRows(L"{C}", L"Velcorin.Device", L"dll", L"{L}");
  Merge(all, ProxyStubClassRows(L"{P}", L"dll"));
  Merge(all, LibraryRows(kLibrary, L"dll", L"folder"));
  Merge(all, InterfaceRows(kLibrary, {L"{I}", L"_Device", L"{P}"}));
  const std::wstring lib = L"TypeLib\\{DCD7460F-8E56-44E0-8A20-DDC0BDF8FC67}\\30.a";
  const Rows expected = {
      {View::Own, L"CLSID\\{C}", L"", L"Velcorin.Device"},
      {View::Own, L"CLSID\\{C}\\InprocServer32", L"", L"dll"},
      {View::Own, L"CLSID\\{C}\\InprocServer32", L"ThreadingModel", L"Apartment"},
      {View::Own, L"CLSID\\{C}\\ProgID", L"", L"Velcorin.Device"},
      {View::Own, L"CLSID\\{C}\\TypeLib", L"", L"{L}"},
      {View::Shared, L"Velcorin.Device", L"", L"Velcorin.Device"},
      {View::Shared, L"Velcorin.Device\\CLSID", L"", L"{C}"},
      {View::Own, L"CLSID\\{P}", L"", L"Velcorin proxy/stub"},
      {View::Own, L"CLSID\\{P}\\InprocServer32", L"", L"dll"},
      {View::Own, L"CLSID\\{P}\\InprocServer32", L"ThreadingModel", L"Both"},
      {View::Shared, lib, L"", L"Help & more"},
      {View::Shared, lib + L"\\409\\win64", L"", L"dll"},
      {View::Shared, lib + L"\\FLAGS", L"", L"8"},
      {View::Shared, lib + L"\\HELPDIR", L"", L"folder"},
      {View::Own, L"Interface\\{I}", L"", L"_Device"},
      {View::Own, L"Interface\\{I}\\ProxyStubClsid", L"", L"{P}"},
      {View::Own, L"Interface\\{I}\\ProxyStubClsid32", L"", L"{P}"},
      {View::Own, L"Interface\\{I}\\TypeLib", L"", L"{DCD7460F-8E56-44E0-8A20-DDC0BDF8FC67}"},
      {View::Own, L"Interface\\{I}\\TypeLib", L"Version", L"30.a"},
  };
  EXPECT_EQ(all, expected);
}

TEST(RegistryRows, MergeKeepsTheFirstWriterOfAValue) {
  Rows rows = {{View::Shared, L"K", L"", L"first"}};
  Merge(rows, {{View::Shared, L"K", L"", L"second"},
               {View::Shared, L"K", L"Name", L"named"},
               {View::Own, L"K", L"", L"other view"},
               {View::Shared, L"K", L"Name", L"again"}});
  EXPECT_EQ(rows, (Rows{{View::Shared, L"K", L"", L"first"},
                        {View::Shared, L"K", L"Name", L"named"},
                        {View::Own, L"K", L"", L"other view"}}));
}

TEST(WixRegistryInclude, ValuesUnderTheClassesRootEscapedForXml) {
  const Rows rows = {{View::Shared, L"Velcorin.Device", L"", L"a&b<c>\"d\" \u00e9"},
                     {View::Shared, L"TypeLib\\{L}\\30.0\\0\\win32", L"", L"[#Dll32]"},
                     {View::Own, L"CLSID\\{C}\\InprocServer32", L"ThreadingModel", L"Apartment"}};
  const std::string keyed = installer::WixRegistryInclude(rows, true);
  EXPECT_NE(keyed.find("<RegistryValue Root=\"HKLM\" Key=\"Software\\Classes\\Velcorin.Device\" "
                       "Value=\"a&amp;b&lt;c&gt;&quot;d&quot; &#xE9;\" Type=\"string\" KeyPath=\"yes\"/>"),
            std::string::npos)
      << keyed;
  EXPECT_NE(keyed.find("Key=\"Software\\Classes\\TypeLib\\{L}\\30.0\\0\\win32\" Value=\"[#Dll32]\" Type=\"string\"/>"),
            std::string::npos)
      << keyed;
  EXPECT_NE(keyed.find("Key=\"Software\\Classes\\CLSID\\{C}\\InprocServer32\" Name=\"ThreadingModel\" "
                       "Value=\"Apartment\" Type=\"string\"/>"),
            std::string::npos)
      << keyed;
  EXPECT_EQ(installer::WixRegistryInclude(rows, false).find("KeyPath"), std::string::npos);
  EXPECT_TRUE(keyed.starts_with("<?xml") && keyed.ends_with("</Include>\n"));
}

}  // namespace
}  // namespace velcorin::registration
