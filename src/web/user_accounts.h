// Local user accounts in "/vandik_data/auth.user", and the web wrappers over
// them.
//
// The file is plain text, one "name:password\n" line per account, at most 10
// accounts, names and passwords of 2 to 20 characters. The file is the only
// state: every operation but user_FindUser reloads the table g_stUserArr from
// it first, and every change rewrites it whole as a new file. A name may not
// hold ':', white space or control characters, a password neither white space
// nor control characters, so every account reads back as it was written.
//
// Runs in the caller's thread; one module mutex makes each operation (reload,
// change, save) one step, so two callers never interleave their saves.
#pragma once

#include "core/types.h"

namespace hx {

constexpr const char* kUserFilePath = "/vandik_data/auth.user";
constexpr U32 kMaxUsers = 10;
constexpr U32 kUserFieldSize = 21;  // 20 characters and the terminating zero

struct ST_USER_INFO {
    U8 u8UserName[kUserFieldSize];
    U8 u8UserPasswd[kUserFieldSize];
    BOOL isEnable;  // 1 = account present, 0 = deleted
};

extern ST_USER_INFO g_stUserArr[kMaxUsers];
extern U32 g_u32UserNum;

// Results are vkErrCode values: 0, 1026 (length), 1027 (exists), 1028 (no such
// user), 1029 (full), 1030 (file cannot be opened), 1031 (wrong password),
// 4 (bad argument or character).
U32 user_LoadUser();
U32 user_SaveUser();
// Index of the first record in use with exactly that name, else -1.
S32 user_FindUser(const char* pcName);
U32 user_CheckUser(const char* pcName, const char* pcPasswd);
U32 user_AddUser(const char* pcName, const char* pcPasswd);
U32 user_ModifyUser(const char* pcName, const char* pcPasswd);
U32 user_DelUser(const char* pcName);
// Copies the accounts into `pstUsers` (room for `u32Capacity`) and their count
// into `pu32Count`, then saves the file again.
U32 user_ShowUser(ST_USER_INFO* pstUsers, U32 u32Capacity, U32* pu32Count);

// The web application's account requests.
U32 web_CheckUser(const char* pcName, const char* pcPasswd);
U32 web_RegistUser(const char* pcName, const char* pcPasswd);
U32 web_ModifyPasswd(const char* pcName, const char* pcPasswd);
U32 web_DelUser(const char* pcName);
U32 web_ShowUser(ST_USER_INFO* pstUsers, U32 u32Capacity, U32* pu32Count);

}  // namespace hx
