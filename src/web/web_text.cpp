#include "web/web_text.h"

#include <cstring>

namespace hx {
namespace {

U8 s_aru8ServiceName[kServiceNameBytes];

}  // namespace

char* web_StringConvertToUTF8(const U8* pu8Text, U32 u32Length) {
    std::memset(s_aru8ServiceName, 0, sizeof s_aru8ServiceName);
    (void)pu8Text;
    (void)u32Length;
    return reinterpret_cast<char*>(s_aru8ServiceName);
}

U8* web_UTF8ToServiceName(const char* pText, U32 u32Length) {
    std::memset(s_aru8ServiceName, 0, sizeof s_aru8ServiceName);
    (void)pText;
    (void)u32Length;
    return s_aru8ServiceName;
}

}  // namespace hx
