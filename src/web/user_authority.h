// Per-board user rights pushed by the back board (inter-board command 524).
//
// The table UserAuthority_Slot holds 256 rights; entry i is the right whose id
// is own slot x 256 + i, entry 0 the board-level right that most setting
// requests of the web interface need. Every right is granted from start-up
// until the back board first sends its table, and every receipt starts again
// from "all granted", so rights the message does not name stay granted.
//
// Threads: the inter-board server thread receives, the HTTP thread checks. A
// receipt is built aside and swapped in under the table's mutex, so a check
// sees the old table or the new one, never a half-built one.
#pragma once

#include "core/types.h"

namespace hx {

struct stAccessModifyEn {
    U16 u16AuthorityId;
    U8 u8ViewEnable;    // 1 = may view
    U8 u8ModifyEnable;  // 1 = may modify
};

constexpr U32 kUserAuthorityEntries = 256;

// Grants every right (every byte of the table 0x01). Called by start-up.
void VKUser_InitUserAuthority();

// Takes the rights message, a JSON text of `u32Length` bytes (it need not end
// with a zero byte): {"data": [{"UserName": "...", "Authoritylist":
// [{"AuthorityId": n, "ViewEnable": n, "ModifyEnable": n}, ...]}, ...]}.
// 0 on success; 1 for no text or text that is not JSON; 0xFFFFFFFF when "data"
// is missing or not an array. Every right is granted again first, so a bad
// message leaves them all granted.
U32 VKUser_RecvUserAuthority(const char* pcJsonText, U32 u32Length);

// True when the board-level entry allows modification; the result is also
// kept in isUserModifyAuthority. For the web request dispatcher.
BOOL VKUser_GetUser_BoardLevel_ModifyAuthority();
extern BOOL isUserModifyAuthority;

// A copy of entry `index` (entry 0 for an index out of range).
stAccessModifyEn VKUser_GetAuthorityEntry(U32 index);

}  // namespace hx
