# Writes the proxy/stub IDL from the library's IDL, so that the marshalled
# interfaces are declared once: each listed interface with its members as the
# library declares them (vtable order, C++ signatures), the enumerations they
# use as 32-bit on the wire, and the collection interface by its IID alone.
#
# cmake -DLIBRARY_IDL=... -DTEMPLATE=... -DOUTPUT=... -DINTERFACES="_A;_B" -P proxy_stub_idl.cmake

file(READ ${LIBRARY_IDL} idl)

function(fail what)
  message(FATAL_ERROR "proxy_stub_idl: ${LIBRARY_IDL}: ${what}")
endfunction()

# An interface's attribute block, then its body up to the closing brace.
function(interface_of name out_uuid out_body)
  if(NOT idl MATCHES "\\[([^]]*)\\][ \t\r\n]*interface ${name} : IDispatch[ \t\r\n]*{([^}]*)}")
    fail("no interface ${name}")
  endif()
  set(body "${CMAKE_MATCH_2}")
  if(NOT CMAKE_MATCH_1 MATCHES "uuid\\(([-0-9A-Fa-f]+)\\)")
    fail("${name} has no uuid")
  endif()
  set(${out_uuid} ${CMAKE_MATCH_1} PARENT_SCOPE)
  set(${out_body} "${body}" PARENT_SCOPE)
endfunction()

interface_of(_Collection collection_uuid unused)
set(declarations "")
set(enums "")
foreach(name IN LISTS INTERFACES)
  interface_of(${name} uuid body)
  # DISPIDs belong to the dispatch half, which crosses through the system's proxy.
  string(REGEX REPLACE "\\[id\\([^)]*\\)\\] " "" body "${body}")
  string(REGEX REPLACE "id\\([^)]*\\), " "" body "${body}")
  string(APPEND declarations "\n[object, uuid(${uuid})]\ninterface ${name} : IDispatch {${body}}\n")
  string(REGEX MATCHALL "[A-Za-z]+Enum" used "${body}")
  list(APPEND enums ${used})
endforeach()
list(REMOVE_DUPLICATES enums)

set(enum_declarations "")
foreach(enum IN LISTS enums)
  if(NOT idl MATCHES "enum ${enum} {([^}]*)} ${enum};")
    fail("no enumeration ${enum}")
  endif()
  string(APPEND enum_declarations "typedef [v1_enum] enum ${enum} {${CMAKE_MATCH_1}} ${enum};\n")
endforeach()

configure_file(${TEMPLATE} ${OUTPUT} @ONLY)
