// OID-keyed snapshot of the output model, "/vandik_data/oiddata.conf": every
// keyed field of every record of the six pools, and the pool counts, stored by
// key (chassis/oid_snapshot_keys.h) rather than by record layout, so a program
// whose records differ still reads the fields it knows.
//
// Written before a backup export (stamped 0xFFFF) and before a firmware image
// is installed (stamped 1); applied once by PARAMS_Init at start-up when its
// stamp is not 1, then deleted. The keys are held in an AVL tree
// (chassis/avl_tree.h) that exists only inside one save or apply.
//
// File, little-endian: U16 version, then one record per tree node in pre-order
// of the tree: U32 key, U16 count, U16 unit, count x unit bytes (element i at
// 8 + i x unit). A file written here has all 167 records.
//
// Threads: a save runs in the inter-board server thread; it copies the model
// into the tree under the model lock and writes the file after releasing it
// (File_WriteAtomic: a power cut leaves the old file or the new one). The apply
// runs at start-up and rebuilds the live model under the model lock. The
// version stamp is an atomic; nothing else is shared between calls.
#pragma once

#include <optional>
#include <span>
#include <vector>

#include "chassis/avl_tree.h"
#include "core/types.h"

namespace hx {

struct Output_TSInfo;

constexpr const char* kOidSnapshotPath = "/vandik_data/oiddata.conf";
// This program's own snapshot version: left on disk, never applied.
constexpr U16 kOidOwnVersion = 1;
// The stamp of a snapshot taken for a backup export.
constexpr U16 kOidBackupVersion = 0xFFFF;
constexpr std::size_t kOidRecordHeaderSize = 8;
// Pool counts above this cannot be linked (0xFFFF ends a chain): a snapshot
// that carries one is refused whole.
constexpr U32 kOidPoolCountLimit = 65535;

// Applies a pending snapshot to the live model: 0 when one was applied, 1 when
// none was (no file, an empty one, version 1, or a file refused whole).
U32 OIDDATA_Recovery();
// Writes a snapshot of the live model stamped with the current version.
void OIDDATA_Save();
// The version the next save stamps.
void OID_ModifyVersionNumber(U16 u16newVersion);
U16 OID_GetVersionNumber();

// The steps of the save and the apply, for tests and the benchmark.

// Builds the tree of all 167 keys without values, in the table's order.
// 0; 1 when not even the first node could be allocated.
U8 OID_CreateAvlTree(AVLTree& tree);
// Element `index` of `key`: on the key's first use allocates count x unitLen
// zeroed bytes. Nothing happens for an absent key, index not below count, a
// zero count or unit, or a count or unit other than the key's first use had.
void OID_SetValueInAvlTree(AVLTreeNode* tree, U16 key, U16 count, U16 index, U16 unitLen, const void* value);
// Every key from `model` (whole pools, free records included) and the six
// counts. The caller holds the model lock.
void OID_SetAllValueInAvlTree(AVLTreeNode* tree, const Output_TSInfo* model);
// The snapshot file's bytes: the version, then the tree's records in pre-order.
std::vector<U8> OID_SerializeAvlTree(const AVLTreeNode* tree, U16 version);
// Appends the records of `tree` in pre-order.
void OID_preorder_avltree(const AVLTreeNode* tree, std::vector<U8>& out);
// Writes the file atomically; false (logged) when it could not be written.
bool OID_SaveAvlTreeToFlash(const AVLTreeNode* tree, U16 version);
// The whole file; nullopt when it is missing, unreadable or empty (an empty
// file is deleted).
std::optional<std::vector<U8>> OID_LoadFlash();
// 1 when the stored version is this program's own (1), else 0.
U8 OID_CheckVersion(std::span<const U8> file);
// Parses the records into the tree's nodes. False refuses the whole file: a
// record running past its end, a pool count above 65,535, or no memory for a
// key's elements. A unit wider than its key's field skips that key (WARNING);
// an unknown key is skipped.
bool OID_LoadAllValueFromFlash(AVLTreeNode* tree, std::span<const U8> file);
// Rebuilds the live model from the tree: new pools of the stored counts, then
// every keyed field. 0; the pool allocation's code (the loaded model is kept)
// when the pools cannot be allocated.
U32 OID_RecoveryAllParam(const AVLTreeNode* tree);

}  // namespace hx
