#include "chassis/avl_tree.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <utility>

namespace hx {
namespace {

void UpdateHeight(AVLTreeNode& node) {
    node.height = 1 + std::max(avltree_height(node.left.get()), avltree_height(node.right.get()));
}

// Single right rotation: the left child becomes the subtree's root.
AVLTree left_left_rotation(AVLTree k2) {
    AVLTree k1 = std::move(k2->left);
    k2->left = std::move(k1->right);
    UpdateHeight(*k2);
    k1->right = std::move(k2);
    UpdateHeight(*k1);
    return k1;
}

// Single left rotation: the right child becomes the subtree's root.
AVLTree right_right_rotation(AVLTree k1) {
    AVLTree k2 = std::move(k1->right);
    k1->right = std::move(k2->left);
    UpdateHeight(*k1);
    k2->left = std::move(k1);
    UpdateHeight(*k2);
    return k2;
}

AVLTree left_right_rotation(AVLTree k3) {
    k3->left = right_right_rotation(std::move(k3->left));
    return left_left_rotation(std::move(k3));
}

AVLTree right_left_rotation(AVLTree k1) {
    k1->right = left_left_rotation(std::move(k1->right));
    return right_right_rotation(std::move(k1));
}

AVLTree avltree_create_node(Type key) {
    AVLTree node(new (std::nothrow) AVLTreeNode);
    if (node) {
        node->key = key;
    }
    return node;
}

}  // namespace

S32 avltree_height(const AVLTreeNode* tree) { return tree == nullptr ? -1 : tree->height; }

AVLTree avltree_insert(AVLTree tree, Type key) {
    if (!tree) {
        tree = avltree_create_node(key);
        if (!tree) {
            std::printf("ERROR: create avltree node failed!\n");
        }
        return tree;
    }
    if (key < tree->key) {
        tree->left = avltree_insert(std::move(tree->left), key);
        if (avltree_height(tree->left.get()) - avltree_height(tree->right.get()) == 2) {
            tree = key < tree->left->key ? left_left_rotation(std::move(tree)) : left_right_rotation(std::move(tree));
        }
    } else if (key > tree->key) {
        tree->right = avltree_insert(std::move(tree->right), key);
        if (avltree_height(tree->right.get()) - avltree_height(tree->left.get()) == 2) {
            tree = key > tree->right->key ? right_right_rotation(std::move(tree))
                                          : right_left_rotation(std::move(tree));
        }
    } else {
        std::printf("添加失败：不允许添加相同的节点！\n");
    }
    UpdateHeight(*tree);
    return tree;
}

const AVLTreeNode* avltree_search(const AVLTreeNode* tree, Type key) {
    while (tree != nullptr && tree->key != key) {
        tree = key < tree->key ? tree->left.get() : tree->right.get();
    }
    return tree;
}

AVLTreeNode* avltree_search(AVLTreeNode* tree, Type key) {
    return const_cast<AVLTreeNode*>(avltree_search(static_cast<const AVLTreeNode*>(tree), key));
}

void destroy_avltree(AVLTree tree) {
    // The children go first, then the node with its value: unique_ptr's order.
    tree.reset();
}

}  // namespace hx
