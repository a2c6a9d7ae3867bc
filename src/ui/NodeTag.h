#pragma once
#include <cstdint>

#include <QTreeWidgetItem>

class CNetObject;
class CPortObject;

// Ties one node of the port tree to the port or link it shows. The tag does not own
// the object: the port manager does. It lives and dies with its node.
struct NodeTag {
    enum class Kind : int32_t { Port = 1, Link = 2 };

    Kind What;
    void* Object; // a CPortObject for a port node, a CNetObject for a link node

    CPortObject* Port() const
    {
        return What == Kind::Port ? static_cast<CPortObject*>(Object) : nullptr;
    }
    CNetObject* Link() const
    {
        return What == Kind::Link ? static_cast<CNetObject*>(Object) : nullptr;
    }
};

// A node of the port tree, carrying its tag: deleting the node releases the tag.
class TTreeNode : public QTreeWidgetItem {
public:
    static constexpr int NodeType = QTreeWidgetItem::UserType + 1;

    explicit TTreeNode(const NodeTag& tag) : QTreeWidgetItem(NodeType), Tag(tag) {}

    // The tag of `item`, or null for none or a foreign item.
    static NodeTag* TagOf(QTreeWidgetItem* item)
    {
        return item && item->type() == NodeType ? &static_cast<TTreeNode*>(item)->Tag : nullptr;
    }
    // The port or link `item` shows; null for another kind of node, none or a foreign item.
    static CPortObject* PortOf(QTreeWidgetItem* item)
    {
        const NodeTag* tag = TagOf(item);
        return tag ? tag->Port() : nullptr;
    }
    static CNetObject* LinkOf(QTreeWidgetItem* item)
    {
        const NodeTag* tag = TagOf(item);
        return tag ? tag->Link() : nullptr;
    }

    NodeTag Tag;
};
