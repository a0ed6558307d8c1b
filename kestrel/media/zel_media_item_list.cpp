// ZelMediaItemList2: the list operations, Copy and Clone.
#include "media/zel_media_item_list.h"

#include <new>

ZelMediaItemList2::ZelMediaItemList2(MEDIA_ITEM_TYPE type) : m_type(type) {}

ZelMediaItemList2::~ZelMediaItemList2() {
  for (ZelMediaItem2 *item : m_items) delete item;
}

ZelMediaItemList2 *ZelMediaItemList2::AllocateZelMediaItemList2(MEDIA_ITEM_TYPE type) {
  return new (std::nothrow) ZelMediaItemList2(type);
}

ZelMediaItemList2 *ZelMediaItemList2::Clone() {
  ZelMediaItemList2 *copy = AllocateZelMediaItemList2(m_type);
  if (copy && !copy->Copy(this)) {
    delete copy;
    return nullptr;
  }
  return copy;
}

ZelMediaItem2 *ZelMediaItemList2::GetItem(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= m_items.size()) return nullptr;
  return m_items[static_cast<size_t>(index)];
}

uint32_t ZelMediaItemList2::GetItemIndex(const ZelMediaItem2 *item) const {
  for (size_t i = 0; i < m_items.size(); ++i) {
    if (m_items[i] == item) return static_cast<uint32_t>(i);
  }
  return 0xFFFFFFFFu;
}

bool ZelMediaItemList2::AddItem(ZelMediaItem2 *item, int index) {
  if (!item) return false;
  try {
    if (index >= 0 && static_cast<size_t>(index) < m_items.size()) {
      m_items.insert(m_items.begin() + index, item);
    } else {
      m_items.push_back(item);
    }
  } catch (const std::bad_alloc &) {
    return false;
  }
  m_modified = true;
  return true;
}

bool ZelMediaItemList2::DeleteItem(int index) {
  if (index < 0 || static_cast<size_t>(index) >= m_items.size()) return false;
  m_modified = true;
  ZelMediaItem2 *item = m_items[static_cast<size_t>(index)];
  m_items.erase(m_items.begin() + index);
  delete item;
  return true;
}

bool ZelMediaItemList2::DeleteItem(ZelMediaItem2 *item) {
  uint32_t index = GetItemIndex(item);
  if (index == 0xFFFFFFFFu) return false;
  return DeleteItem(static_cast<int>(index));
}

bool ZelMediaItemList2::MoveItem(int from, int to) {
  if (from < 0 || static_cast<size_t>(from) >= m_items.size()) return false;
  if (from == to) return true;
  ZelMediaItem2 *item = m_items[static_cast<size_t>(from)];
  m_items.erase(m_items.begin() + from);
  // The vector had room for the item a moment ago, so this cannot fail.
  return AddItem(item, to);
}

bool ZelMediaItemList2::Copy(const ZelMediaItemList2 *other) {
  if (!other || other == this) return other == this;
  m_modified = other->m_modified;
  m_type = other->m_type;
  for (ZelMediaItem2 *item : other->m_items) {
    ZelMediaItem2 *clone = item->Clone();
    if (!clone) return false;
    if (!AddItem(clone, -1)) {
      delete clone;
      return false;
    }
  }
  // AddItem set the flag; the copy keeps the other's.
  m_modified = other->m_modified;
  return true;
}
