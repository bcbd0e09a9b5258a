// The JSON replies of the web application and the one shape every request
// handler follows: rights, reply buffer, parse, token, typed reads of the
// body's members, the operation, the reply, and the parsed tree freed on
// every path.
//
// Caller: the HTTP server thread, one request at a time.
#pragma once

#include <cJSON.h>

#include <functional>
#include <optional>

#include "core/types.h"
#include "http/http_base.h"

namespace hx {

// {"code": code, "description": the code's text in the board's language}.
// 775 when the buffer is absent, else 0. The request name is not used.
U32 web_processErr(buffer* reply, U32 code, const char* name);
// {"code": 0, "description": null}. 775 when the buffer is absent, else 0.
U32 web_processSuccess(buffer* reply);
// Prints the tree in cJSON's formatted form into the reply (replacing what it
// held) and deletes the tree. Does nothing when either is absent.
void _web_addToWriteBuff(cJSON* tree, buffer* reply);
// The text of a code in the board's current language ("" without a text).
const char* web_GetErrCodeString(U32 code);
// 774 unless the body has a string member "token" (never compared). A
// numeric "chassistype" becomes the chassis type (Web_SetZELType).
U32 _web_checkToken(const cJSON* body);

// {"code": 0, "description": null or `description`, "data": data}, printed
// into the reply; takes ownership of `data` (an object, or an array for
// "Debug.w"). 775 when the reply is absent (data deleted), else 0.
U32 web_ReplyData(buffer* reply, cJSON* data, const char* description = nullptr);

// What a handler asks of the common shape.
struct WebHandlerRules {
    bool modifyRight = false;  // refuse with 1035 without the board-level modify right
    bool token = true;         // require a string "token" (and take "chassistype")
};

// The operation of one handler: gets the parsed body (never null) and the
// reply buffer (never null); writes its reply and returns 0, or returns a
// code for the dispatcher's error object. It must not delete the body.
using WebOperation = std::function<U32(cJSON* body, buffer* reply)>;

// The common handler shape over the request body being dispatched
// (g_ps8RevData): 1035 without the right (before anything else is looked
// at), 775 without a reply buffer, 774 when the body is not JSON, the token
// check's code; then the operation's result. The parsed tree is deleted on
// every path.
U32 web_HandleRequest(buffer* reply, const WebHandlerRules& rules, const WebOperation& operation);

// Adds a whole number to a reply object, printed exactly as cJSON's
// formatted print writes it. cJSON prints every number with "%1.15g" and
// reads it back with sscanf to check the round trip, about a fifth of a
// large listing's time; a whole number of up to 15 digits prints as its
// digits either way, so those go in as their text. For trees that are only
// printed: such an item is no cJSON number to a reader.
void web_AddWholeNumber(cJSON* object, const char* key, long long value);

// Typed reads of one member (names compared without regard to ASCII case).
// Each is false (or null) when the member is missing or of another JSON
// type; true and false are not numbers.
bool web_ReadInt(const cJSON* object, const char* key, int* value);  // valueint
bool web_ReadDouble(const cJSON* object, const char* key, double* value);
// A number that, rounded to the nearest integer, is finite and within
// 0..4294967295; anything else is treated as a wrongly typed member.
bool web_ReadU32Rounded(const cJSON* object, const char* key, U32* value);
// A number that is a whole integer within `min`..`max` (no narrowing
// wraps); anything else is treated as a wrongly typed member.
bool web_ReadWholeInt(const cJSON* object, const char* key, long long min, long long max, long long* value);
// A required number used as an index or channel. False when it is missing
// or not a number (the request's 774). Else `*index` is its value when that
// is a whole number within 0..`max`, and empty otherwise: a negative,
// fractional or too large number addresses nothing, rather than wrapping onto
// entry 0 once narrowed.
bool web_ReadIndex(const cJSON* object, const char* key, U32 max, std::optional<U32>* index);
// The real output channel that "port" and "channel" name (channel + port ×
// channels per port). False when either is missing or not a number. Empty
// when either addresses nothing or the real channel lies past 65,535; a
// channel the board does not have (16 and up) is passed on, and the model
// finds no stream there.
bool web_ReadOutChannel(const cJSON* object, std::optional<U16>* channel);
const char* web_ReadString(const cJSON* object, const char* key);
cJSON* web_ReadArray(const cJSON* object, const char* key);
cJSON* web_ReadObject(const cJSON* object, const char* key);

}  // namespace hx
