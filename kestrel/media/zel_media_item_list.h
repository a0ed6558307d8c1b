#ifndef KESTREL_MEDIA_ZEL_MEDIA_ITEM_LIST_H
#define KESTREL_MEDIA_ZEL_MEDIA_ITEM_LIST_H

/* An ordered list of media items that owns them: a renderer's internal
 * queue, a server's music list, the base of a playlist. The modified flag is
 * set by every change. Destroying the list destroys the items it still
 * holds. */

#include <stdint.h>

#include <vector>

#include "media/zel_media_item.h"

class ZelMediaItemList2 {
 public:
  explicit ZelMediaItemList2(MEDIA_ITEM_TYPE type);
  ZelMediaItemList2(const ZelMediaItemList2 &) = delete;
  ZelMediaItemList2 &operator=(const ZelMediaItemList2 &) = delete;
  virtual ~ZelMediaItemList2();
  /* A new list of the same type holding clones of the items; none when memory
   * runs out. */
  virtual ZelMediaItemList2 *Clone();

  uint32_t Count() const { return static_cast<uint32_t>(m_items.size()); }
  /* None for a negative index or one not below the count. */
  ZelMediaItem2 *GetItem(int index) const;
  /* The item's position, or 0xFFFFFFFF. */
  uint32_t GetItemIndex(const ZelMediaItem2 *item) const;
  /* Inserts before index 0 to count - 1, appends for any other index (such as
   * -1); the list takes the item. False only for a null item or when memory
   * runs out (the item is then not taken). */
  bool AddItem(ZelMediaItem2 *item, int index);
  /* Removes and destroys the item; false for an index out of range or an
   * item not in the list. */
  bool DeleteItem(int index);
  bool DeleteItem(ZelMediaItem2 *item);
  /* Moves the item at from to to (counted on the list without it; a to at or
   * beyond that count appends). False when from is out of range; true and
   * no change when from equals to. */
  bool MoveItem(int from, int to);
  /* Takes the other's modified flag and type and appends clones of its
   * items. False when a clone could not be made. */
  bool Copy(const ZelMediaItemList2 *other);

  bool IsModified() const { return m_modified; }
  void SetModified(bool modified) { m_modified = modified; }
  MEDIA_ITEM_TYPE GetType() const { return m_type; }

  static ZelMediaItemList2 *AllocateZelMediaItemList2(MEDIA_ITEM_TYPE type);

 private:
  bool m_modified = false;
  MEDIA_ITEM_TYPE m_type;
  std::vector<ZelMediaItem2 *> m_items;
};

#endif
