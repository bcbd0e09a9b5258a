# net-snmp, located through its own net-snmp-config (Debian: libsnmp-dev).
#
#   NetSnmp::Agent      headers and definitions, for the sources that include
#                       net-snmp's headers (src/snmp/, the SNMP benchmark)
#   NetSnmp::Libraries  the agent, MIB-module and base libraries to link
#
# net-snmp-config --cflags also carries the flags the library itself was built
# with (-O2, fortify, Perl's include folder ...); only its include folders and
# its NETSNMP_ definitions are taken, so our own build type stays in charge.
find_program(NET_SNMP_CONFIG net-snmp-config REQUIRED)
execute_process(COMMAND ${NET_SNMP_CONFIG} --version OUTPUT_VARIABLE NETSNMP_VERSION
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${NET_SNMP_CONFIG} --cflags OUTPUT_VARIABLE _netsnmp_cflags
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${NET_SNMP_CONFIG} --netsnmp-agent-libs OUTPUT_VARIABLE _netsnmp_libs
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
message(STATUS "net-snmp ${NETSNMP_VERSION} (${NET_SNMP_CONFIG})")

separate_arguments(_netsnmp_cflags UNIX_COMMAND "${_netsnmp_cflags}")
separate_arguments(_netsnmp_libs UNIX_COMMAND "${_netsnmp_libs}")

set(_netsnmp_includes)
# The library's 64-bit counter type is also called U64, as is ours: its
# headers leave it out when asked to.
set(_netsnmp_definitions NETSNMP_REMOVE_U64)
foreach(flag ${_netsnmp_cflags})
  if(flag MATCHES "^-I(.+)$")
    set(dir ${CMAKE_MATCH_1})
    if(IS_DIRECTORY ${dir} AND EXISTS ${dir}/net-snmp AND NOT dir STREQUAL "/usr/include")
      list(APPEND _netsnmp_includes ${dir})
    endif()
  elseif(flag MATCHES "^-D(NETSNMP_.+)$")
    list(APPEND _netsnmp_definitions ${CMAKE_MATCH_1})
  endif()
endforeach()
list(REMOVE_DUPLICATES _netsnmp_definitions)

set(_netsnmp_link_dirs)
set(_netsnmp_link_libs)
foreach(flag ${_netsnmp_libs})
  if(flag MATCHES "^-L(.+)$")
    list(APPEND _netsnmp_link_dirs ${CMAKE_MATCH_1})
  elseif(flag MATCHES "^-l(.+)$")
    list(APPEND _netsnmp_link_libs ${CMAKE_MATCH_1})
  endif()
endforeach()
set(_netsnmp_libraries)
foreach(name ${_netsnmp_link_libs})
  find_library(NETSNMP_LIBRARY_${name} ${name} HINTS ${_netsnmp_link_dirs} REQUIRED)
  list(APPEND _netsnmp_libraries ${NETSNMP_LIBRARY_${name}})
endforeach()

# net-snmp 5.7 named two of the MIB modules the agent starts after the
# version they were rewritten in; later versions dropped the suffix.
include(CheckLibraryExists)
list(GET _netsnmp_libraries 0 _netsnmp_mibs_library)
get_filename_component(_netsnmp_libdir ${_netsnmp_mibs_library} DIRECTORY)
check_library_exists(netsnmpmibs init_snmpMPDStats "${_netsnmp_libdir}" HX_NETSNMP_HAS_SNMPMPDSTATS)
check_library_exists(netsnmpmibs init_snmpMPDStats_5_5 "${_netsnmp_libdir}" HX_NETSNMP_HAS_SNMPMPDSTATS_5_5)
if(HX_NETSNMP_HAS_SNMPMPDSTATS)
  list(APPEND _netsnmp_definitions HX_NETSNMP_MODULE_SUFFIX_5_5=0)
elseif(HX_NETSNMP_HAS_SNMPMPDSTATS_5_5)
  list(APPEND _netsnmp_definitions HX_NETSNMP_MODULE_SUFFIX_5_5=1)
else()
  message(FATAL_ERROR "net-snmp: neither init_snmpMPDStats nor init_snmpMPDStats_5_5 in netsnmpmibs")
endif()

add_library(NetSnmp::Agent INTERFACE IMPORTED GLOBAL)
set_target_properties(NetSnmp::Agent PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES "${_netsnmp_includes}"
  INTERFACE_COMPILE_DEFINITIONS "${_netsnmp_definitions}")

add_library(NetSnmp::Libraries INTERFACE IMPORTED GLOBAL)
set_target_properties(NetSnmp::Libraries PROPERTIES INTERFACE_LINK_LIBRARIES "${_netsnmp_libraries}")
