// Height-balanced binary search tree (AVL tree) of the OID snapshot's keys.
//
// The snapshot (chassis/oid_snapshot.h) holds one node per OID key while it
// writes or applies a file; each node owns the array of that key's elements.
// Only insertion, search and destruction exist. Insertion and search recurse
// at most the tree's height (8 levels for the 167 keys).
//
// Not thread-safe: a tree belongs to the one call that built it.
#pragma once

#include <memory>

#include "core/types.h"

namespace hx {

using Type = S32;

struct AVLTreeNode {
    Type key = 0;
    // A leaf has height 0; an empty subtree counts as -1.
    S32 height = 0;
    // Elements in `value` and the bytes of each; both 0 until the first element is set.
    U16 valueCount = 0;
    U16 valueUnitLen = 0;
    // valueCount x valueUnitLen bytes, element i at i x valueUnitLen; null until set.
    std::unique_ptr<U8[]> value;
    std::unique_ptr<AVLTreeNode> left;
    std::unique_ptr<AVLTreeNode> right;
};
using Node = AVLTreeNode;
// A tree is its root; null is the empty tree.
using AVLTree = std::unique_ptr<AVLTreeNode>;

// Height of a subtree: -1 for the empty one.
S32 avltree_height(const AVLTreeNode* tree);
// Inserts a node without value and rebalances; returns the new root. A key
// already present changes nothing; a node that cannot be allocated is not
// added (both reported on the console).
AVLTree avltree_insert(AVLTree tree, Type key);
// The node of `key`, or null.
AVLTreeNode* avltree_search(AVLTreeNode* tree, Type key);
const AVLTreeNode* avltree_search(const AVLTreeNode* tree, Type key);
// Frees every node and its value.
void destroy_avltree(AVLTree tree);

}  // namespace hx
