// The splay tree under the stat cache: Sleator and Tarjan's top-down splay on
// integer keys, with every node's subtree size kept correct.
#include <cstdlib>

#include "http/stat_cache.h"

namespace hx {

namespace {

int node_size(const tree_node* t) {
    return t == nullptr ? 0 : t->size;
}

}  // namespace

extern "C" {

tree_node* splaytree_splay(tree_node* t, int key) {
    if (t == nullptr) {
        return nullptr;
    }
    // `header` collects the left tree in its `right` link and the right tree
    // in its `left` link; `left_end` and `right_end` are where they grow.
    tree_node header{};
    tree_node* left_end = &header;
    tree_node* right_end = &header;
    int left_size = 0;
    int right_size = 0;
    for (;;) {
        if (key < t->key) {
            if (t->left == nullptr) {
                break;
            }
            if (key < t->left->key) {  // rotate right
                tree_node* y = t->left;
                t->left = y->right;
                y->right = t;
                t->size = node_size(t->left) + node_size(t->right) + 1;
                t = y;
                if (t->left == nullptr) {
                    break;
                }
            }
            right_end->left = t;  // link right
            right_end = t;
            t = t->left;
            right_size += 1 + node_size(right_end->right);
        } else if (key > t->key) {
            if (t->right == nullptr) {
                break;
            }
            if (key > t->right->key) {  // rotate left
                tree_node* y = t->right;
                t->right = y->left;
                y->left = t;
                t->size = node_size(t->left) + node_size(t->right) + 1;
                t = y;
                if (t->right == nullptr) {
                    break;
                }
            }
            left_end->right = t;  // link left
            left_end = t;
            t = t->right;
            left_size += 1 + node_size(left_end->left);
        } else {
            break;
        }
    }
    left_size += node_size(t->left);
    right_size += node_size(t->right);
    t->size = left_size + right_size + 1;

    left_end->right = nullptr;
    right_end->left = nullptr;
    // The nodes linked on the way down hold stale sizes; each one on the left
    // tree's right spine covers what lies below it, t's left subtree included
    // (likewise on the right).
    for (tree_node* y = header.right; y != nullptr; y = y->right) {
        y->size = left_size;
        left_size -= 1 + node_size(y->left);
    }
    for (tree_node* y = header.left; y != nullptr; y = y->left) {
        y->size = right_size;
        right_size -= 1 + node_size(y->right);
    }
    left_end->right = t->left;
    right_end->left = t->right;
    t->left = header.right;
    t->right = header.left;
    return t;
}

tree_node* splaytree_insert(tree_node* t, int key, void* data) {
    if (t != nullptr) {
        t = splaytree_splay(t, key);
        if (t->key == key) {
            return t;
        }
    }
    auto* node = static_cast<tree_node*>(std::malloc(sizeof(tree_node)));
    HTTP_ASSERT(node != nullptr);
    node->left = nullptr;
    node->right = nullptr;
    if (t != nullptr) {
        if (key < t->key) {
            node->left = t->left;
            node->right = t;
            t->left = nullptr;
            t->size = 1 + node_size(t->right);
        } else {
            node->right = t->right;
            node->left = t;
            t->right = nullptr;
            t->size = 1 + node_size(t->left);
        }
    }
    node->key = key;
    node->data = data;
    node->size = 1 + node_size(node->left) + node_size(node->right);
    return node;
}

tree_node* splaytree_delete(tree_node* t, int key) {
    if (t == nullptr) {
        return nullptr;
    }
    const int size = t->size;
    t = splaytree_splay(t, key);
    if (t->key != key) {
        return t;
    }
    tree_node* rest = nullptr;
    if (t->left == nullptr) {
        rest = t->right;
    } else {
        // Every key on the left is below `key`: the splay brings the largest
        // to the root, which has no right child to lose.
        rest = splaytree_splay(t->left, key);
        rest->right = t->right;
    }
    std::free(t);
    if (rest != nullptr) {
        rest->size = size - 1;
    }
    return rest;
}

}  // extern "C"

}  // namespace hx
