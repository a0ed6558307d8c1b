// Interface and class identifiers: the 128-bit nsID, compared, parsed from
// and written as "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" (braces optional).
#ifndef XPCOM_ID_H
#define XPCOM_ID_H

#include "xpcom_base.h"

struct nsID {
  uint32_t m0;
  uint16_t m1;
  uint16_t m2;
  uint8_t m3[8];

  bool Equals(const nsID &other) const {
    if (m0 != other.m0 || m1 != other.m1 || m2 != other.m2) return false;
    for (int i = 0; i < 8; ++i)
      if (m3[i] != other.m3[i]) return false;
    return true;
  }
  // Sets the identifier from its text form; false (and the identifier
  // unchanged) when the text is not exactly one identifier.
  XPCOM_API bool Parse(const char *text);
  // Writes the 36-character form and its NUL into out (37 bytes).
  XPCOM_API void ToProvidedString(char (&out)[37]) const;
};

typedef nsID nsIID;
typedef nsID nsCID;

inline bool operator==(const nsID &a, const nsID &b) { return a.Equals(b); }
inline bool operator!=(const nsID &a, const nsID &b) { return !a.Equals(b); }

// Interfaces carry their identifier as a static member function.
#define NS_GET_IID(T) (T::GetIID())
#define NS_DECLARE_STATIC_IID_ACCESSOR(...)                    \
  static const nsIID &GetIID() {                               \
    static const nsIID iid = __VA_ARGS__;                      \
    return iid;                                                \
  }

#endif
