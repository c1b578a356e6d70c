// The CLSID of the DLL's own proxy/stub factory: widl's generated code is
// built with it, and registration names it.
#pragma once

// {F80FC640-C702-4B74-98EF-51F51AB0068B}
#define PROXY_CLSID_IS                                                             \
  {                                                                                \
    0xF80FC640, 0xC702, 0x4B74, { 0x98, 0xEF, 0x51, 0xF5, 0x1A, 0xB0, 0x06, 0x8B } \
  }
