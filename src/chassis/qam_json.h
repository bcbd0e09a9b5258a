// JSON copy of the QAM and IP monitor settings ("/vandik_data/oid.json"),
// written in terms of web ports and channels.
//
// It survives what the fixed-layout QAM parameter file does not: start-up
// rewrites it from a good parameter file and restores from it when the
// parameter file had to be rebuilt from factory defaults; the configuration
// import and export carry it. Callers: start-up, the web requests that change
// QAM, IP monitor or PSI settings, the factory reset, the configuration export
// and import (their threads: start-up, HTTP, inter-board server).
//
// Lock: the QAM apply lock (platform/qam_apply.h, recursive). DATA_Save takes
// its snapshot and writes under it, so two saves never interleave and a save
// never shows half an edit; DATA_Recovery holds it while it changes the live
// records and saves them. A setter that already holds it may call both.
//
// The file is replaced whole (File_WriteAtomic): a power cut leaves the old
// copy or the new one.
#pragma once

#include "core/types.h"

struct cJSON;

namespace hx {
struct QAM_IPMonitorPara;
struct TParameter_QAM;
}

namespace hx {

constexpr const char* kQamJsonFilePath = "/vandik_data/oid.json";
// Shown as "netmask"; the IP monitor port always has this mask.
constexpr double kQamJsonNetmask = 4294967040.0;  // 255.255.255.0
// Stored symbol rate of annex B with constellation 1 (shown as 5361).
constexpr U32 kAnnexBFixedSymbolRate = 5360537;

// Writes the live QAM set and IP monitor record to the JSON copy. A write that
// fails is logged (ERROR) and leaves the old file as it was.
void DATA_Save();
// Adds "QamParameter" / "IPMonitorParams" built from the live records to
// `root`.
void DATA_Save_QAMParameter(cJSON* root);
void DATA_Save_IPMonitorParams(cJSON* root);
// The QAM set as the JSON copy keeps it ("standard", "singlemode" and each
// channel's "insertpsienable" only with `fileMembers`) or, without them, as
// the RF channel page shows it.
cJSON* DATA_QamParameterObject(const TParameter_QAM& table, U16 psiInterval, bool fileMembers);
// Writes a channel item's group members ("annexmode", "constellation",
// "symbolrate" in thousands, "bandwidth", "maxbitrate"), each only when it is
// a number, into group `group`: the symbol rate rounded to whole symbols per
// second, and fixed for annex B with constellation 1 (as just written).
void DATA_TakeQamGroup(const cJSON* item, TParameter_QAM& table, U32 group);
// The IP monitor record as the JSON copy and the IP monitor page show it
// (the web port and channel, "netmask", "mac" and the port list included).
cJSON* DATA_IPMonitorObject(const QAM_IPMonitorPara& record);

// Applies the JSON copy to the live records and saves the QAM parameter file;
// 0, or 1 when the file cannot be read or parsed (nothing changed). Sends
// nothing to the modulator: the values reach it with the next apply.
U32 DATA_Recovery();
// 1 when "QamParameter" is missing; 774 when "psiinterval" is missing or not a
// number (what came before it stays applied, nothing more is saved); else 0.
U32 DATA_Recovery_QAMParameter(const cJSON* root);
void DATA_Recovery_IPMonitorParams(const cJSON* root);

}  // namespace hx
