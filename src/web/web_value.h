// Value conversions of the web application: numbers to and from packed BCD,
// descriptor loops listed as JSON, the country-code, time-offset and TOT-time
// texts of the NIT and TOT pages, a byte replacer for file names, the display
// names of stream and PID types, and the mapping between the pages' (port,
// channel) pairs and the board's output channel index. DVB text to and from
// UTF-8 is in web/web_text.h.
//
// Callers: the web handlers (HTTP server thread), the JSON settings file and
// the board MIB (channel mapping). Plain functions without state, callable
// from any thread; the descriptor lister shares the text converters' buffer
// for network names, so it belongs to the thread that owns those.
//
// Text outputs are written into the caller's buffer with the limits given
// below (32 bytes unless said otherwise), always NUL-terminated.
#pragma once

#include "core/types.h"

struct cJSON;

namespace hx {

struct Output_WebProgramInfo;

// Buffers the texts below are written into.
constexpr U32 kWebValueTextBytes = 32;
// The 5-byte UTC time of the TOT and TDT: MJD (high byte first), hour,
// minute, second as two BCD digits each.
constexpr U32 kUtcTimeBytes = 5;
// The lengths the readers need whole: "hh:mm", a three-letter code and
// "yyyy/mm/dd hh:mm:ss"; a shorter text counts as absent.
constexpr U32 kTimeOffsetTextLength = 5;
constexpr U32 kCountryCodeTextLength = 3;
constexpr U32 kTotTimeTextLength = 19;

// Binary to packed BCD: decimal digits, least significant first, fill 4-bit
// groups from bit 0 up (eight digits at most). Used for the frequency and
// symbol-rate fields of the cable delivery descriptor.
U32 Bcd2Hex(U32 u32BcdCode);
// Packed BCD to binary: nibble i counts nibble × 10^i, a nibble above 9 at
// its value (0x1A gives 20).
U32 Hex2Bcd(U32 u32Value);

// A page's real number kept as an unsigned 32-bit word: the nearest integer,
// taken only when the number is finite and that integer fits (1e999 parses
// to infinity; converting it or a negative value is undefined). False leaves
// `*pu32Value` as it was.
bool web_RoundToU32(double value, U32* pu32Value);

// Two hexadecimal characters to a byte, either case; a one-character text
// gives that digit, an absent or empty text 0. Characters are not validated.
U8 x2c(const char* pText);

// Appends one JSON object {"tag", "data", "length"} per descriptor of the
// loop of `u32Length` bytes to `pArray`; network names (tag 0x40) as UTF-8,
// other data as lower-case hexadecimal, with the frequency and symbol rate
// (and orbital position) of a satellite or cable delivery descriptor. The
// loop ends at a descriptor or header that would run past the length, or at
// the fifth empty descriptor. 0; 775 for absent bytes, an absent or non-array
// `pArray`, or a length of 0.
U32 _web_parseDescriptor(const U8* pu8Data, U32 u32Length, cJSON* pArray);

// The pages' output ports and channels: one port of all the board's channels.
U32 _web_GetOutPortNum();
U32 _web_GetOutChannelNum();
U32 _web_GetOutChannelNumbyPort();
// channel + port × channels per port, unchecked (the callers check).
U32 _web_GetOutRealChannel(U32 u32Port, U32 u32Channel);
// The port and channel of a real channel index: 1, or 0 with the outputs
// untouched when no port holds it.
U32 _web_GetOutPortAndChannelByRealChannel(U32 u32RealChannel, U32* pu32Port, U32* pu32Channel);

// The 24-bit country code (first character in bits 23-16) as six lower-case
// hexadecimal digits: 0; 4 (logged) for an absent text.
U32 Web_CountryCodeHex2W(U32 u32Code, char* pText);
// The first three characters as bytes, first in bits 23-16. An absent text,
// or one shorter than three characters, gives 4 (logged).
U32 Web_CountryCodeW2Hex(const char* pText);

// The BCD local time offset (hours high byte, minutes low byte) as "hh:mm".
void Web_TimeOffsetHex2W(U16 u16Offset, char* pText);
// "hh:mm" back to the BCD offset; digits are not validated. An absent text,
// or one shorter than five characters, is logged and gives 0.
U16 Web_TimeOffsetW2Hex(const char* pText);

// The 5-byte UTC time as "yyyy/mm/dd hh:mm:ss" (date from the MJD).
void Web_TOTTimeHex2W(char* pText, const U8* pu8UtcTime);
// "yyyy/mm/dd hh:mm:ss" by fixed positions into the 5-byte UTC time; digits
// are not validated. An absent text, one shorter than 19 characters, or an
// absent output is logged and nothing is written.
void Web_TOTTimeW2Hex(const char* pText, U8* pu8UtcTime);

// Copies the text into the destination of `u32DestinationSize` bytes (cut to
// fit, always terminated), every byte equal to `u8Old` replaced by `u8New`.
// 0; 1 (logged) for an absent source or destination, a size of 0, or a byte
// at or above 0x80.
U32 Web_CharacterReplace(const char* pSource, char* pDestination, U32 u32DestinationSize, U8 u8Old, U8 u8New);

// Display names of an MPEG-2 stream_type and of the board's PID type codes
// (engine/web_report.h), written into 32 bytes.
void Web_GetStreamTypeDesc(U8 u8StreamType, char* pName);
void Web_GetPIDTypeDesc(U8 u8PidType, char* pName);

// A program view's PIDs as the stream and status pages show them:
// {"pcr", "pmt", "es": [{"pid", "pidtype", "streamtype" (display name)}]}
// with at most the view's elementary streams. The caller owns the object.
cJSON* Web_ProgramPidsObject(const Output_WebProgramInfo& program);

}  // namespace hx
