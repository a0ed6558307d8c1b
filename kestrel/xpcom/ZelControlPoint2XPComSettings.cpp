// The component's methods on the user settings: program options and the
// names and icons the user gives renderers. A change that could not be read
// back as given is refused with NS_ERROR_INVALID_ARG and nothing is stored;
// one that could not be written is NS_ERROR_FAILURE (the file stays as it
// was, the change holds until the library is unloaded).
#include "media/zel_util.h"
#include "xpcom/ZelControlPoint2XPCom.h"
#include "xpcom/zel_xpcom_foundation.h"
#include "xpcom/zel_xpcom_out.h"

namespace {

nsresult result_of(ZELUTIL_UPDATE_RESULT update) {
  switch (update) {
    case ZU_UPDATE_STORED: return NS_OK;
    case ZU_UPDATE_REFUSED: return NS_ERROR_INVALID_ARG;
    case ZU_UPDATE_NOT_SAVED: break;
  }
  return NS_ERROR_FAILURE;
}

}  // namespace

NS_IMETHODIMP ZelControlPoint2XPCom::SetRendererInfo(const char *bookmark, const char *name, PRInt32 icon) {
  // -1 keeps the icon given before; a lower number would come back as -1
  // after a restart.
  if (icon < -1) return NS_ERROR_INVALID_ARG;
  return zel_xpcom_guard([&] {
    zel_xpcom_foundation_ready();
    return result_of(ZelUtil::UpdateRendererProperties(bookmark, name, icon));
  });
}

NS_IMETHODIMP ZelControlPoint2XPCom::SetProgramOption(const char *name, const char *value) {
  return zel_xpcom_guard([&] {
    zel_xpcom_foundation_ready();
    return result_of(ZelUtil::UpdateSettingValue(name, value));
  });
}

NS_IMETHODIMP ZelControlPoint2XPCom::GetProgramOption(const char *name, char **value) {
  if (value == nullptr) return NS_ERROR_NULL_POINTER;
  *value = nullptr;
  // Names are compared without regard to case; no such setting is "".
  return zel_xpcom_guard([&] {
    zel_xpcom_foundation_ready();
    return zel_xpcom_clone_out(ZelUtil::GetSettingValue(name), value);
  });
}
