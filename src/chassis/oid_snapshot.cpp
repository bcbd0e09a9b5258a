#include "chassis/oid_snapshot.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>

#include "chassis/oid_snapshot_keys.h"
#include "chassis/param_store.h"
#include "core/common_fun.h"
#include "core/err.h"
#include "core/file_util.h"
#include "core/log.h"
#include "core/run_profile.h"
#include "engine/output_model.h"

namespace hx {
namespace {

std::atomic<U16> s_u16Version{kOidOwnVersion};

// The table entry of each key (index by key; null for a number without one).
struct KeyIndex {
    std::array<const OidKeyField*, kOidKeyCount + 1> byKey{};
    KeyIndex() {
        for (const OidKeyField& field : kOidKeyTable) {
            byKey[field.key] = &field;
        }
    }
};

const OidKeyField* FieldOfKey(U32 key) {
    static const KeyIndex index;
    return key < index.byKey.size() ? index.byKey[key] : nullptr;
}

// One key of a pool with its node, looked up once per pool rather than once
// per record and field.
struct ResolvedKey {
    const OidKeyField* field;
    AVLTreeNode* node;
};

std::vector<ResolvedKey> KeysOfPool(const AVLTreeNode* tree, OidPool pool) {
    std::vector<ResolvedKey> keys;
    for (const OidKeyField& field : kOidKeyTable) {
        if (field.pool == pool) {
            // The tree is only read through this; the save writes the nodes it owns.
            keys.push_back({&field, const_cast<AVLTreeNode*>(avltree_search(tree, field.key))});
        }
    }
    return keys;
}

ModelPool ModelPoolOf(OidPool pool) { return static_cast<ModelPool>(pool); }

constexpr OidPool kRecordPools[] = {OidPool::Stream, OidPool::Program,    OidPool::Pid,
                                    OidPool::Table,  OidPool::Descriptor, OidPool::Bypass};

void SetElement(AVLTreeNode& node, U16 count, U16 index, U16 unitLen, const void* value) {
    if (index >= count || count == 0 || unitLen == 0) {
        return;
    }
    if (!node.value) {
        node.value.reset(new (std::nothrow) U8[std::size_t{count} * unitLen]());
        if (!node.value) {
            HX_LOG_AT_AS("OID_SetValueInAvlTree", LOG_LEVEL_ERROR, LOG_MODULE_ALL, "malloc error");
            return;
        }
        node.valueCount = count;
        node.valueUnitLen = unitLen;
    } else if (node.valueCount != count || node.valueUnitLen != unitLen) {
        return;  // the array was sized for another shape: element i would not fit
    }
    std::memcpy(node.value.get() + std::size_t{index} * unitLen, value, unitLen);
}

// Whether element i of the node can be applied to a field of this width.
bool Usable(const AVLTreeNode* node, U16 width) {
    return node != nullptr && node->value && node->valueCount != 0 && node->valueUnitLen != 0 &&
           node->valueUnitLen <= width;
}

std::string SnapshotPath() { return ResolvePath(kOidSnapshotPath); }

// Deletes the snapshot and makes the deletion durable: an applied or refused
// snapshot that came back after a power cut would be applied again over every
// later edit.
void RemoveSnapshot(const char* caller) {
    const std::string path = SnapshotPath();
    std::error_code error;
    if (!std::filesystem::remove(path, error) && error) {
        HX_LOG_AT_AS(caller, LOG_LEVEL_ERROR, LOG_MODULE_ALL, "rm -rf %s failed\r\n", kOidSnapshotPath);
        return;
    }
    const std::string folder = std::filesystem::path(path).parent_path().string();
    const FileDescriptor directory(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.valid()) {
        fsync(directory.get());
    }
}

U32 LittleEndianValue(const U8* bytes, U16 length) {
    U32 value = 0;
    for (U16 i = length; i > 0; --i) {
        value = value << 8 | bytes[i - 1];
    }
    return value;
}

}  // namespace

void OID_ModifyVersionNumber(U16 u16newVersion) { s_u16Version.store(u16newVersion, std::memory_order_relaxed); }

U16 OID_GetVersionNumber() { return s_u16Version.load(std::memory_order_relaxed); }

U8 OID_CreateAvlTree(AVLTree& tree) {
    for (const OidKeyField& field : kOidKeyTable) {
        tree = avltree_insert(std::move(tree), field.key);
        if (!tree) {
            return 1;
        }
    }
    return 0;
}

void OID_SetValueInAvlTree(AVLTreeNode* tree, U16 key, U16 count, U16 index, U16 unitLen, const void* value) {
    if (AVLTreeNode* node = avltree_search(tree, key)) {
        SetElement(*node, count, index, unitLen, value);
    }
}

void OID_SetAllValueInAvlTree(AVLTreeNode* tree, const Output_TSInfo* model) {
    HX_MODEL_LOCK_REQUIRED_FOR(model);
    for (const OidPool pool : kRecordPools) {
        const U16 count = static_cast<U16>(ModelPool_Count(model, ModelPoolOf(pool)));
        const std::vector<ResolvedKey> keys = KeysOfPool(tree, pool);
        for (U16 i = 0; i < count; ++i) {
            const U8* record = ModelPool_Record(model, ModelPoolOf(pool), i);
            for (const ResolvedKey& key : keys) {
                if (key.node != nullptr) {
                    SetElement(*key.node, count, i, key.field->width, record + key.field->offset);
                }
            }
        }
    }
    for (const ResolvedKey& key : KeysOfPool(tree, OidPool::Counts)) {
        U8 bytes[4];
        PutLe32(bytes, ModelPool_Count(model, static_cast<ModelPool>(key.field->offset / sizeof(U32))));
        if (key.node != nullptr) {
            SetElement(*key.node, 1, 0, sizeof bytes, bytes);
        }
    }
}

void OID_preorder_avltree(const AVLTreeNode* tree, std::vector<U8>& out) {
    if (tree == nullptr) {
        return;
    }
    const std::size_t bytes = tree->value ? std::size_t{tree->valueCount} * tree->valueUnitLen : 0;
    U8 header[kOidRecordHeaderSize];
    PutLe32(header, static_cast<U32>(tree->key));
    PutLe16(header + 4, bytes != 0 ? tree->valueCount : 0);
    PutLe16(header + 6, bytes != 0 ? tree->valueUnitLen : 0);
    out.insert(out.end(), header, header + sizeof header);
    if (bytes != 0) {
        out.insert(out.end(), tree->value.get(), tree->value.get() + bytes);
    }
    OID_preorder_avltree(tree->left.get(), out);
    OID_preorder_avltree(tree->right.get(), out);
}

namespace {
std::size_t SerializedSize(const AVLTreeNode* tree) {
    if (tree == nullptr) {
        return 0;
    }
    const std::size_t bytes = tree->value ? std::size_t{tree->valueCount} * tree->valueUnitLen : 0;
    return kOidRecordHeaderSize + bytes + SerializedSize(tree->left.get()) + SerializedSize(tree->right.get());
}
}  // namespace

std::vector<U8> OID_SerializeAvlTree(const AVLTreeNode* tree, U16 version) {
    std::vector<U8> out;
    out.reserve(2 + SerializedSize(tree));
    out.resize(2);
    PutLe16(out.data(), version);
    OID_preorder_avltree(tree, out);
    return out;
}

bool OID_SaveAvlTreeToFlash(const AVLTreeNode* tree, U16 version) {
    const std::string path = SnapshotPath();
    try {
        const std::vector<U8> bytes = OID_SerializeAvlTree(tree, version);
        File_RemoveStaleTemporaries(path);
        if (File_WriteAtomic(path, bytes)) {
            return true;
        }
    } catch (const std::bad_alloc&) {
        // reported below, like a file that cannot be written
    }
    HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_ALL, "[%s:%d]save error\r\n\n", __func__, __LINE__);
    return false;
}

void OIDDATA_Save() {
    AVLTree tree;
    const U8 created = OID_CreateAvlTree(tree);
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "Creat Oid Av Tree\n");
    if (created != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_ALL, "[%s:%d]create avl tree error\r\n\n", __func__, __LINE__);
        return;
    }
    {
        // Only the copy into the tree holds the lock: the SI sender's time
        // tables wait on it. The file is written after it is released.
        TSP_ModelLock lock;
        OID_SetAllValueInAvlTree(tree.get(), TSP_GetTSParam());
    }
    OID_SaveAvlTreeToFlash(tree.get(), OID_GetVersionNumber());
    destroy_avltree(std::move(tree));
}

std::optional<std::vector<U8>> OID_LoadFlash() {
    const std::string path = SnapshotPath();
    const std::optional<std::size_t> size = File_Size(path);
    if (!size) {
        HX_LOG_AT(LOG_LEVEL_WARNING, LOG_MODULE_ALL, "open error\r\n");
        return std::nullopt;
    }
    if (*size == 0) {
        HX_LOG_AT(LOG_LEVEL_WARNING, LOG_MODULE_ALL, "%s is empty\r\n", kOidSnapshotPath);
        RemoveSnapshot(__func__);
        return std::nullopt;
    }
    std::optional<std::vector<U8>> content;
    try {
        content = File_ReadAll(path);
    } catch (const std::bad_alloc&) {
        HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_ALL, "malloc error\r\n");
        return std::nullopt;
    }
    if (!content || content->empty()) {
        HX_LOG_AT(LOG_LEVEL_WARNING, LOG_MODULE_ALL, "open error\r\n");
        return std::nullopt;
    }
    return content;
}

U8 OID_CheckVersion(std::span<const U8> file) {
    return file.size() >= 2 && GetLe16(file.data()) == kOidOwnVersion ? 1 : 0;
}

bool OID_LoadAllValueFromFlash(AVLTreeNode* tree, std::span<const U8> file) {
    if (file.size() < 2) {
        HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_ALL, "record past the end at %zu, file refused\r\n", std::size_t{0});
        return false;
    }
    std::size_t offset = 2;
    while (offset < file.size()) {
        const std::size_t left = file.size() - offset;
        const U8* record = file.data() + offset;
        const std::size_t bytes = left < kOidRecordHeaderSize
                                      ? 0
                                      : std::size_t{GetLe16(record + 4)} * GetLe16(record + 6);
        if (left < kOidRecordHeaderSize || bytes > left - kOidRecordHeaderSize) {
            // No checksum guards the file: a record cut short means the
            // rest cannot be trusted, and half a model must not be applied.
            HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_ALL, "record past the end at %zu, file refused\r\n", offset);
            return false;
        }
        const U32 key = GetLe32(record);
        const U16 count = GetLe16(record + 4);
        const U16 unit = GetLe16(record + 6);
        const U8* data = record + kOidRecordHeaderSize;
        offset += kOidRecordHeaderSize + bytes;

        const OidKeyField* field = FieldOfKey(key);
        AVLTreeNode* node = field != nullptr ? avltree_search(tree, static_cast<Type>(key)) : nullptr;
        if (node == nullptr || bytes == 0) {
            continue;  // unknown key, or a key that held no value
        }
        if (unit > field->width) {
            HX_LOG_AT(LOG_LEVEL_WARNING, LOG_MODULE_ALL, "key %u unit %u wider than its field (%u), skipped\r\n", key,
                      unsigned{unit}, unsigned{field->width});
            continue;
        }
        if (field->pool == OidPool::Counts && LittleEndianValue(data, unit) > kOidPoolCountLimit) {
            HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_ALL, "key %u pool count %u above %u, file refused\r\n", key,
                      LittleEndianValue(data, unit), kOidPoolCountLimit);
            return false;
        }
        std::unique_ptr<U8[]> value(new (std::nothrow) U8[bytes]);
        if (!value) {
            HX_LOG_AT(LOG_LEVEL_ERROR, LOG_MODULE_ALL, "malloc error\r\n");
            return false;
        }
        std::memcpy(value.get(), data, bytes);
        node->value = std::move(value);  // a repeated key: the last one counts
        node->valueCount = count;
        node->valueUnitLen = unit;
    }
    return true;
}

U32 OID_RecoveryAllParam(const AVLTreeNode* tree) {
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "begin to recovery all params\n");
    TSInfoInitNum counts{};
    for (const ResolvedKey& key : KeysOfPool(tree, OidPool::Counts)) {
        if (Usable(key.node, key.field->width)) {
            const U32 value = LittleEndianValue(key.node->value.get(), key.node->valueUnitLen);
            std::memcpy(reinterpret_cast<U8*>(&counts) + key.field->offset, &value, sizeof value);
        }
    }
    TSP_ModelLock lock;
    Output_TSInfo* model = TSP_GetTSParam();
    // New pools are allocated before the old ones go: on failure the model
    // loaded from the parameter files stays whole.
    if (const U32 result = TSP_InitTSInfo(model, &counts); result != VK_SUCCESS) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_ALL, "[%s:%d]TSP_InitTSInfo error[%u], loaded model kept\r\n\n", __func__,
               __LINE__, result);
        return result;
    }
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS,
           "OutTS = %d OutPROM = %d OutPID = %d OutTAB = %d OutDES = %d OutBypass = %d \n\n",
           static_cast<int>(model->u32OutputTSNumber), static_cast<int>(model->u32OutputProgramNumber),
           static_cast<int>(model->u32OutputPIDNumber), static_cast<int>(model->u32OutputTableNumber),
           static_cast<int>(model->u32OutputDescriptorNumber), static_cast<int>(model->u32OutputBypassTSNumber));
    for (const OidPool pool : kRecordPools) {
        const U16 count = static_cast<U16>(ModelPool_Count(model, ModelPoolOf(pool)));
        std::vector<ResolvedKey> keys = KeysOfPool(tree, pool);
        std::erase_if(keys, [](const ResolvedKey& key) { return !Usable(key.node, key.field->width); });
        for (U16 i = 0; i < count; ++i) {
            U8* record = ModelPool_Record(model, ModelPoolOf(pool), i);
            for (const ResolvedKey& key : keys) {
                if (i < key.node->valueCount) {
                    const U16 unit = key.node->valueUnitLen;
                    std::memcpy(record + key.field->offset, key.node->value.get() + std::size_t{i} * unit, unit);
                }
            }
            // The finders hand a free record out as it stands and its new
            // owner sets only the fields it uses: whatever a free record
            // brought along would show up in the next program or descriptor.
            if (!ModelPool_IsValid(model, ModelPoolOf(pool), i)) {
                std::memset(record, 0, ModelPool_RecordSize(ModelPoolOf(pool)));
            }
        }
    }
    // Valid flags and keys were written behind the finders' and lookups' back.
    ModelPool_RecordsChanged(model);
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "end to recovery all params\n");
    return VK_SUCCESS;
}

U32 OIDDATA_Recovery() {
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "start recovery all parameters!\n");
    const std::optional<std::vector<U8>> file = OID_LoadFlash();
    if (!file) {
        return VK_ERR_FAILURE;
    }
    if (OID_CheckVersion(*file) == 1) {
        return VK_ERR_FAILURE;  // an upgrade's own snapshot stays on disk, unapplied
    }
    AVLTree tree;
    if (OID_CreateAvlTree(tree) != 0) {
        return VK_ERR_FAILURE;
    }
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_SYS, "oid version = %d, paramversion = %x!\r\n\n",
           file->size() >= 2 ? GetLe16(file->data()) : 0, kParamsVersion);
    if (!OID_LoadAllValueFromFlash(tree.get(), *file) || OID_RecoveryAllParam(tree.get()) != VK_SUCCESS) {
        RemoveSnapshot(__func__);
        return VK_ERR_FAILURE;
    }
    destroy_avltree(std::move(tree));
    // The snapshot goes only once the model it carried is in the model file:
    // a power cut in between then finds one or the other, never neither.
    PARAMS_TSPParametersSave();
    RemoveSnapshot(__func__);
    return VK_SUCCESS;
}

}  // namespace hx
