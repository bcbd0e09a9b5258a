#include "web/web_value.h"

#include <cJSON.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/common_fun.h"
#include "core/err.h"
#include "core/log.h"
#include "engine/web_report.h"
#include "platform/board.h"
#include "si/time_tables.h"
#include "web/web_reply.h"
#include "web/web_text.h"

namespace hx {
namespace {

constexpr U8 kNetworkNameTag = 0x40;
constexpr U8 kSatelliteDeliveryTag = 0x43;
constexpr U8 kCableDeliveryTag = 0x44;
// Frequency (4 bytes), orbital position or reserved field (2), flags (1) and
// the symbol rate with FEC (4): what the delivery descriptors' numbers need.
constexpr U32 kDeliveryNumberBytes = 11;
// The pages list at most four empty descriptors; the fifth ends the loop.
constexpr U32 kEmptyDescriptorLimit = 5;
// The hexadecimal data text the pages take.
constexpr std::size_t kDescriptorHexLimit = 999;
constexpr U8 kFirstNonAsciiByte = 0x80;

// One digit of x2c's two-character form.
int HexDigit(char character) {
    const int value = static_cast<unsigned char>(character);
    return value < 'A' ? value - '0' : (value & 0xDF) - 55;
}

// Two decimal digits of a text, unvalidated.
int TwoDigits(const char* pText) { return (pText[0] - '0') * 10 + (pText[1] - '0'); }

// True when the text holds at least `u32Length` characters; reads no further.
bool HasLength(const char* pText, U32 u32Length) {
    return pText != nullptr && strnlen(pText, u32Length) == u32Length;
}

// 28 bits of BCD symbol rate (units of 100 symbol/s) in ksymbol/s.
double SymbolRate(const U8* pu8Data) { return Hex2Bcd(GetBe32(pu8Data + 7) >> 4) / 10.0; }

void AddDeliveryNumbers(cJSON* object, U8 u8Tag, const U8* pu8Data) {
    if (u8Tag == kSatelliteDeliveryTag) {
        // Frequency in units of 10 kHz to MHz; orbital position in tenths of a degree.
        cJSON_AddNumberToObject(object, "frequency", Hex2Bcd(GetBe32(pu8Data)) / 100.0);
        cJSON_AddNumberToObject(object, "orbitalposition", Hex2Bcd(GetBe16(pu8Data + 4)) / 10.0);
    } else {
        // Frequency in units of 100 Hz to kHz.
        cJSON_AddNumberToObject(object, "frequency", Hex2Bcd(GetBe32(pu8Data)) / 10.0);
    }
    cJSON_AddNumberToObject(object, "symbolrate", SymbolRate(pu8Data));
}

cJSON* DescriptorObject(U8 u8Tag, const U8* pu8Data, U8 u8Length) {
    cJSON* object = cJSON_CreateObject();
    char tag[3];
    std::snprintf(tag, sizeof tag, "%02x", u8Tag);
    cJSON_AddStringToObject(object, "tag", tag);
    if (u8Tag == kNetworkNameTag) {
        const char* name = web_StringConvertToUTF8(pu8Data, u8Length);
        cJSON_AddStringToObject(object, "data", name);
        cJSON_AddNumberToObject(object, "length", static_cast<double>(std::strlen(name)));
    } else {
        std::string hex;
        for (U32 at = 0; at < u8Length && hex.size() + 2 <= kDescriptorHexLimit; ++at) {
            char pair[3];
            std::snprintf(pair, sizeof pair, "%02x", pu8Data[at]);
            hex += pair;
        }
        cJSON_AddStringToObject(object, "data", hex.c_str());
        cJSON_AddNumberToObject(object, "length", u8Length);
    }
    if ((u8Tag == kSatelliteDeliveryTag || u8Tag == kCableDeliveryTag) && u8Length >= kDeliveryNumberBytes) {
        AddDeliveryNumbers(object, u8Tag, pu8Data);
    }
    return object;
}

}  // namespace

U32 Bcd2Hex(U32 u32BcdCode) {
    U32 packed = 0;
    for (int digit = 0; digit < 8 && u32BcdCode != 0; ++digit) {
        packed |= (u32BcdCode % 10) << (4 * digit);
        u32BcdCode /= 10;
    }
    return packed;
}

U32 Hex2Bcd(U32 u32Value) {
    U32 binary = 0;
    U32 weight = 1;
    for (int nibble = 0; nibble < 8; ++nibble) {
        binary += ((u32Value >> (4 * nibble)) & 0xF) * weight;
        weight *= 10;
    }
    return binary;
}

bool web_RoundToU32(double value, U32* pu32Value) {
    if (pu32Value == nullptr || !std::isfinite(value)) {
        return false;
    }
    const double rounded = std::round(value);
    if (rounded < 0.0 || rounded > 4294967295.0) {
        return false;
    }
    *pu32Value = static_cast<U32>(rounded);
    return true;
}

U8 x2c(const char* pText) {
    if (pText == nullptr || pText[0] == '\0') {
        return 0;
    }
    if (pText[1] == '\0') {
        return static_cast<U8>(HexDigit(pText[0]) & 0xFF);
    }
    return static_cast<U8>((HexDigit(pText[0]) * 16 + HexDigit(pText[1])) & 0xFF);
}

U32 _web_parseDescriptor(const U8* pu8Data, U32 u32Length, cJSON* pArray) {
    if (pu8Data == nullptr || pArray == nullptr || !cJSON_IsArray(pArray) || u32Length == 0) {
        return VK_ERR_WEB_BAD_PARAM;
    }
    U32 empty = 0;
    // A header is read only when both its bytes lie inside the loop, and a
    // descriptor listed only when its data do too.
    for (U32 offset = 0; u32Length - offset >= 2;) {
        const U8 tag = pu8Data[offset];
        const U8 length = pu8Data[offset + 1];
        if (length > u32Length - offset - 2) {
            break;
        }
        if (length == 0 && ++empty >= kEmptyDescriptorLimit) {
            break;
        }
        cJSON_AddItemToArray(pArray, DescriptorObject(tag, pu8Data + offset + 2, length));
        offset += 2 + length;
    }
    return VK_SUCCESS;
}

U32 _web_GetOutPortNum() { return 1; }

U32 _web_GetOutChannelNum() { return BMN_GetOutputChannelNum(); }

U32 _web_GetOutChannelNumbyPort() { return _web_GetOutChannelNum() / _web_GetOutPortNum(); }

U32 _web_GetOutRealChannel(U32 u32Port, U32 u32Channel) {
    return u32Channel + u32Port * _web_GetOutChannelNumbyPort();
}

U32 _web_GetOutPortAndChannelByRealChannel(U32 u32RealChannel, U32* pu32Port, U32* pu32Channel) {
    const U32 perPort = _web_GetOutChannelNumbyPort();
    U32 base = 0;
    for (U32 port = 0; port < _web_GetOutPortNum(); ++port, base += perPort) {
        if (u32RealChannel >= base && u32RealChannel < base + perPort) {
            if (pu32Port == nullptr || pu32Channel == nullptr) {
                return 0;
            }
            *pu32Port = port;
            *pu32Channel = u32RealChannel - base;
            return 1;
        }
    }
    return 0;
}

U32 Web_CountryCodeHex2W(U32 u32Code, char* pText) {
    if (pText == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "Param is NULL!\n");
        return VK_ERR_PARAMS;
    }
    std::snprintf(pText, kWebValueTextBytes, "%02x%02x%02x", (u32Code >> 16) & 0xFF, (u32Code >> 8) & 0xFF,
                  u32Code & 0xFF);
    return VK_SUCCESS;
}

U32 Web_CountryCodeW2Hex(const char* pText) {
    if (!HasLength(pText, kCountryCodeTextLength)) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "Param is NULL!\n");
        return VK_ERR_PARAMS;
    }
    const auto* bytes = reinterpret_cast<const U8*>(pText);
    return static_cast<U32>(bytes[0]) << 16 | static_cast<U32>(bytes[1]) << 8 | bytes[2];
}

void Web_TimeOffsetHex2W(U16 u16Offset, char* pText) {
    if (pText == nullptr) {
        return;
    }
    std::snprintf(pText, kWebValueTextBytes, "%02x:%02x", u16Offset >> 8, u16Offset & 0xFF);
}

U16 Web_TimeOffsetW2Hex(const char* pText) {
    if (!HasLength(pText, kTimeOffsetTextLength)) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "Param is NULL!\n");
        return 0;
    }
    return static_cast<U16>(TSP_CalBCD(static_cast<U8>(TwoDigits(pText))) << 8 |
                            TSP_CalBCD(static_cast<U8>(TwoDigits(pText + 3))));
}

void Web_TOTTimeHex2W(char* pText, const U8* pu8UtcTime) {
    if (pText == nullptr || pu8UtcTime == nullptr) {
        return;
    }
    // EN 300 468 Annex C in integers.
    const long mjd = GetBe16(pu8UtcTime);
    const long yearPrime = (mjd * 100 - 1507820) / 36525;
    const long e = mjd - (yearPrime * 36525) / 100;
    const long monthPrime = (e * 10000 - 149561000) / 306001;
    const long day = e - (monthPrime * 306001) / 10000 - 14956;
    const long k = (monthPrime == 14 || monthPrime == 15) ? 1 : 0;
    const long year = yearPrime + k + 1900;
    const long month = monthPrime - 1 - 12 * k;
    std::snprintf(pText, kWebValueTextBytes, "%04ld/%02ld/%02ld %02x:%02x:%02x", year, month, day, pu8UtcTime[2],
                  pu8UtcTime[3], pu8UtcTime[4]);
}

void Web_TOTTimeW2Hex(const char* pText, U8* pu8UtcTime) {
    if (!HasLength(pText, kTotTimeTextLength) || pu8UtcTime == nullptr) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "Param is NULL!\n");
        return;
    }
    const int year = TwoDigits(pText) * 100 + TwoDigits(pText + 2);
    PutBe16(pu8UtcTime, TSP_CalMJD(static_cast<U32>(year - 1900), static_cast<U32>(TwoDigits(pText + 5)),
                                   static_cast<U32>(TwoDigits(pText + 8))));
    pu8UtcTime[2] = TSP_CalBCD(static_cast<U8>(TwoDigits(pText + 11)));
    pu8UtcTime[3] = TSP_CalBCD(static_cast<U8>(TwoDigits(pText + 14)));
    pu8UtcTime[4] = TSP_CalBCD(static_cast<U8>(TwoDigits(pText + 17)));
}

U32 Web_CharacterReplace(const char* pSource, char* pDestination, U32 u32DestinationSize, U8 u8Old, U8 u8New) {
    if (pSource == nullptr || pDestination == nullptr || u32DestinationSize == 0 || u8Old >= kFirstNonAsciiByte ||
        u8New >= kFirstNonAsciiByte) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_SYS, "Web_StringReplace Input error!\n");
        return 1;
    }
    U32 at = 0;
    for (; at + 1 < u32DestinationSize && pSource[at] != '\0'; ++at) {
        const U8 byte = static_cast<U8>(pSource[at]);
        pDestination[at] = static_cast<char>(byte == u8Old ? u8New : byte);
    }
    pDestination[at] = '\0';
    return VK_SUCCESS;
}

void Web_GetStreamTypeDesc(U8 u8StreamType, char* pName) {
    if (pName == nullptr) {
        return;
    }
    const char* name = "User Private";
    switch (u8StreamType) {
        case 1:
        case 2: name = "Video(MPEG2)"; break;
        case 3:
        case 4: name = "Audio"; break;
        case 5: name = "Private Data"; break;
        case 6: name = "Private Data/AC3"; break;
        case 9: name = "ECM"; break;
        case 15: name = "Audio(MPEG2_AAC)"; break;
        case 16: name = "Video(MPEG4)"; break;
        case 17: name = "Audio(MPEG4_AAC)"; break;
        case 27: name = "Video(H264)"; break;
        case 36: name = "Video(H265)"; break;
        case 66: name = "Video(AVS)"; break;
        case 128: name = "Video(Digicipher2)"; break;
        case 129: name = "Audio(AC3)"; break;
        default: break;
    }
    std::snprintf(pName, kWebValueTextBytes, "%s", name);
}

void Web_GetPIDTypeDesc(U8 u8PidType, char* pName) {
    if (pName == nullptr) {
        return;
    }
    const char* name = "Unknown";
    switch (u8PidType) {
        case VIDEO_PID: name = "Video"; break;
        case AUDIO_PID: name = "Audio"; break;
        case PCR_PID: name = "PCR"; break;
        case EMM_PID: name = "EMM"; break;
        case PS_ECM_PID: name = "PSECM"; break;
        case ES_ECM_PID: name = "ESECM"; break;
        case OTHER_PID: name = "Other"; break;
        case PAT_TABLE_PID: name = "PAT"; break;
        case PMT_TABLE_PID: name = "PMT"; break;
        case SDT_TABLE_PID: name = "SDT"; break;
        case CAT_TABLE_PID: name = "CAT"; break;
        case EIT_TABLE_PID: name = "EIT"; break;
        case MGT_TABLE_PID: name = "MGT"; break;
        default: break;
    }
    std::snprintf(pName, kWebValueTextBytes, "%s", name);
}

cJSON* Web_ProgramPidsObject(const Output_WebProgramInfo& program) {
    cJSON* pids = cJSON_CreateObject();
    web_AddWholeNumber(pids, "pcr", program.u16PCRPID);
    web_AddWholeNumber(pids, "pmt", program.u16PMTPID);
    cJSON* streams = cJSON_CreateArray();
    const U32 count = std::min<U32>(program.u16ESNumber, kWebEsViews);
    for (U32 e = 0; e < count; ++e) {
        const Output_WebPIDInfo& es = program.arOutputESInfo[e];
        char typeName[kWebValueTextBytes] = {};
        Web_GetStreamTypeDesc(es.u8StreamType, typeName);
        cJSON* entry = cJSON_CreateObject();
        web_AddWholeNumber(entry, "pid", es.u16PID);
        web_AddWholeNumber(entry, "pidtype", es.u8PIDType);
        cJSON_AddItemToObject(entry, "streamtype", cJSON_CreateString(typeName));
        cJSON_AddItemToArray(streams, entry);
    }
    cJSON_AddItemToObject(pids, "es", streams);
    return pids;
}

}  // namespace hx
