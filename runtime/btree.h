#pragma once

// An intrusive AVL tree. A node class implements the two comparisons; the
// owner keeps the root pointer (null for an empty tree) and replaces it with
// what the static operations return. Keys are unique within one tree.
class btree {
public:
    btree() {}
    virtual ~btree() {}
    // Negative when `key` (or `other`) sorts before this node, positive when
    // after, 0 when equal.
    virtual int btree_compare(void* key) = 0;
    virtual int btree_compare(btree* other) = 0;

    // Inserts `node` (a node equal to an existing one is not inserted); returns the new root.
    static btree* btree_put(btree* root, btree* node);
    // Removes `node`, which must be in the tree; returns the new root. The
    // node comes out clean and may be put into a tree again.
    static btree* btree_get(btree* root, btree* node);
    static btree* btree_find(btree* root, void* key);
    // Ordered walks: greatest node <= key (left) / < key (next left), and the
    // right-hand twins: smallest node >= key / > key. A null key on the
    // *_left calls yields the greatest node, on *_right calls the smallest.
    static btree* btree_find_left(btree* root, void* key);
    static btree* btree_find_next_left(btree* root, void* key);
    static btree* btree_find_right(btree* root, void* key);
    static btree* btree_find_next_right(btree* root, void* key);

    btree* btree_left = nullptr;
    btree* btree_right = nullptr;
    int btree_height = 1;
};
