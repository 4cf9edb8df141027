# Builds the update-signing public keys, and the transparency log's key and origin, into the program, in plain CMake so any
# build machine can do it (no openssl or python at configure time).
#
# The key file is what `openssl ec -in KEY.pem -pubout -out KEY.pub.pem` writes for
# an ECDSA P-256 key: a PEM "PUBLIC KEY" block whose base64 body is 124 characters.
# The first 36 encode the fixed 27-byte SubjectPublicKeyInfo header (ending in 0x04,
# an uncompressed point); the last 88 encode X then Y, 64 bytes.

# _velmar_key_setting names the setting that gave the key.
function(_velmar_public_key_error pem why)
  message(FATAL_ERROR
    "${_velmar_key_setting} (${pem}): ${why}\n"
    "Give the public half of an ECDSA P-256 key, as made by\n"
    "  openssl ec -in KEY.pem -pubout -out KEY.pub.pem\n"
    "or leave ${_velmar_key_setting} empty to build an updater without that check.")
endfunction()

function(_velmar_hex_byte value out_var)
  set(digits "0123456789abcdef")
  math(EXPR high "${value} >> 4")
  math(EXPR low "${value} & 15")
  string(SUBSTRING "${digits}" ${high} 1 h)
  string(SUBSTRING "${digits}" ${low} 1 l)
  set(${out_var} "0x${h}${l}" PARENT_SCOPE)
endfunction()

# Sets out_var to the 64 key bytes X then Y as a C initializer list, or fails configuration.
function(_velmar_read_p256_public_key pem out_var)
  set(alphabet "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/")
  set(spki_prefix "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAE")

  if(NOT EXISTS "${pem}" OR IS_DIRECTORY "${pem}")
    _velmar_public_key_error("${pem}" "no such file.")
  endif()
  file(SIZE "${pem}" size)
  if(size GREATER 4096)
    _velmar_public_key_error("${pem}" "far too large for a P-256 public key (${size} bytes).")
  endif()
  file(READ "${pem}" text)
  if(text MATCHES "PRIVATE KEY-----")
    _velmar_public_key_error("${pem}" "this is a private key. Only the public key goes into the build; "
                             "keep the private key off build machines.")
  endif()
  if(NOT text MATCHES "-----BEGIN PUBLIC KEY-----([^-]*)-----END PUBLIC KEY-----")
    _velmar_public_key_error("${pem}" "not a PEM public key (no BEGIN PUBLIC KEY ... END PUBLIC KEY block).")
  endif()
  string(REGEX REPLACE "[ \t\r\n]" "" body "${CMAKE_MATCH_1}")
  string(LENGTH "${body}" length)
  string(FIND "${body}" "${spki_prefix}" prefix_at)
  if(NOT length EQUAL 124 OR NOT prefix_at EQUAL 0)
    _velmar_public_key_error("${pem}" "not an ECDSA P-256 public key (an RSA key, another curve or a compressed point?).")
  endif()
  string(SUBSTRING "${body}" 36 88 point)
  # 64 bytes: 21 full groups of four characters, then two characters and "==".
  if(NOT point MATCHES "^[A-Za-z0-9+/]+==$")
    _velmar_public_key_error("${pem}" "the base64 text is damaged.")
  endif()

  set(bytes "")
  foreach(group RANGE 0 84 4)
    set(value 0)
    foreach(offset RANGE 0 3)
      math(EXPR at "${group} + ${offset}")
      string(SUBSTRING "${point}" ${at} 1 char)
      if(char STREQUAL "=")
        break()
      endif()
      string(FIND "${alphabet}" "${char}" sextet)
      math(EXPR value "(${value} << 6) | ${sextet}")
    endforeach()
    if(group EQUAL 84)
      # Last group: 12 bits of which the top 8 are the 64th byte, the rest must be zero.
      math(EXPR unused "${value} & 15")
      if(NOT unused EQUAL 0)
        _velmar_public_key_error("${pem}" "the base64 text is damaged.")
      endif()
      math(EXPR value "${value} >> 4")
      set(shifts 0)
    else()
      set(shifts 16 8 0)
    endif()
    foreach(shift IN LISTS shifts)
      math(EXPR byte "(${value} >> ${shift}) & 255")
      _velmar_hex_byte(${byte} hex)
      list(APPEND bytes ${hex})
    endforeach()
  endforeach()
  list(LENGTH bytes count)
  if(NOT count EQUAL 64)
    message(FATAL_ERROR "update_public_key.cmake decoded ${count} bytes instead of 64")
  endif()

  set(lines "")
  foreach(first RANGE 0 56 8)
    list(SUBLIST bytes ${first} 8 row)
    list(JOIN row ", " row)
    string(APPEND lines "    ${row},\n")
  endforeach()
  set(${out_var} "${lines}" PARENT_SCOPE)
endfunction()

# Writes out_file, a C++ source defining BuiltInUpdateKeys() (update/manifest/update_keys.h):
# the keys in the PEM files of the list pems (none: signatures off), and the log's key in
# log_pem with its origin (none: manifests need not be logged).
function(velmar_update_public_key_source pems log_pem log_origin out_file)
  set(key_blocks "")
  set(sources "")
  set(_velmar_key_setting VELMAR_UPDATE_PUBLIC_KEY)
  foreach(pem IN LISTS pems)
    _velmar_read_p256_public_key("${pem}" key_lines)
    string(FIND "${key_blocks}" "${key_lines}" seen_at)
    if(NOT seen_at EQUAL -1)
      _velmar_public_key_error("${pem}" "the same key is listed twice.")
    endif()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${pem}")
    string(APPEND key_blocks "    {{\n${key_lines}    }},\n")
    string(APPEND sources " ${pem}")
  endforeach()
  set(keys "nullptr, 0")
  if(NOT key_blocks STREQUAL "")
    set(key_blocks "// X then Y of each ECDSA P-256 update-signing key.\nconst UpdateKey kUpdateKeys[] = {\n${key_blocks}};\n")
    set(keys "kUpdateKeys, sizeof kUpdateKeys / sizeof kUpdateKeys[0]")
  endif()
  set(log_block "")
  set(log "nullptr")
  if(NOT log_pem STREQUAL "")
    set(_velmar_key_setting VELMAR_LOG_PUBLIC_KEY)
    _velmar_read_p256_public_key("${log_pem}" log_lines)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${log_pem}")
    string(REPLACE "\\" "\\\\" log_origin "${log_origin}")
    string(REPLACE "\"" "\\\"" log_origin "${log_origin}")
    set(log_block "// The transparency log's key, X then Y, and its origin.\nconst LogKey kLogKey = {{{\n${log_lines}}}, \"${log_origin}\"};\n")
    set(log "&kLogKey")
    string(APPEND sources " ${log_pem}")
  endif()
  if(sources STREQUAL "")
    set(sources " no key")
  endif()
  set(content [=[
// Generated by cmake/update_public_key.cmake from@sources@; do not edit.
#include "update/manifest/update_keys.h"

namespace {

@key_blocks@@log_block@
}  // namespace

UpdateKeys BuiltInUpdateKeys() { return UpdateKeys{@keys@, @log@}; }
]=])
  file(CONFIGURE OUTPUT "${out_file}" CONTENT "${content}" @ONLY)
endfunction()
