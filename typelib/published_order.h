// The order of the types in the published library: the shaping tool creates
// them in it, and the contract test reads them back in it.
#pragma once

namespace velcorin::tlb {

inline constexpr const wchar_t* kPublishedOrder[] = {
    L"_Device",        L"Device",          L"_Packet",    L"Packet",           L"_Chooser",
    L"Chooser",        L"_DevInfo",        L"DevInfo",    L"_EnumFilter",      L"EnumFilter",
    L"OpCodeBaseEnum", L"EndCodeBaseEnum", L"OpTypeEnum", L"FilterActionEnum", L"FilterTargetEnum",
    L"_Collection",  // ours, not part of the published surface: kept last
};

}  // namespace velcorin::tlb
