// One entry of a server context's level read under one hold of the context
// (a feed page reads every entry of the page this way).
#include "nmc/lm_dmscp_entry.h"

#include <cstring>

#include "nmc/lm_dmscp_internal.h"

namespace {

// A text as the API hands it out through a buffer of `size` bytes: up to
// its first zero byte, refused when it does not fit with its zero.
lm_nmc_result_t take_text(const std::string &value, uint32_t size, std::string *out) {
  const size_t length = std::strlen(value.c_str());
  if (length + 1 > size) return LM_NMC_BUFFER_TOO_SMALL;
  out->assign(value.data(), length);
  return LM_NMC_OK;
}

lm_nmc_result_t read(nmc_dms_state &state, uint32_t index, const char *title_key, const nmc_dms_entry_sizes &sizes,
                     nmc_dms_entry *entry) {
  // The cursor move of lm_dmscp_go_index.
  lm_nmc_result_t result = nmc_dms_go_index(state, index);
  if (result != LM_NMC_OK) return result;

  upnp_xml_node *object = nullptr;
  result = nmc_dms_current(state, &object);
  if (result != LM_NMC_OK) return result;
  if (entry->metadata == nullptr) entry->metadata = upnp_string_create("", 4096);
  upnp_string_empty(entry->metadata);
  entry->metadata = nmc_dms_metadata_text(state, object, entry->metadata);
  if (entry->metadata == nullptr) return LM_NMC_OUT_OF_MEMORY;
  if (entry->metadata->length + 1 > sizes.metadata) return LM_NMC_BUFFER_TOO_SMALL;

  std::string value;
  result = nmc_dms_extract(state, title_key, 0, &value);
  if (result == LM_NMC_OK) result = take_text(value, sizes.title, &entry->title);
  if (result != LM_NMC_OK) return result;

  value.clear();
  result = nmc_dms_bookmark(state, true, &value);
  if (result == LM_NMC_OK) result = take_text(value, sizes.bookmark, &entry->bookmark);
  if (result != LM_NMC_OK) return result;

  // The object the bookmark was taken of (the calls above may have reread
  // the page).
  result = nmc_dms_current(state, &object);
  if (result != LM_NMC_OK) return result;
  entry->directory = object->name != nullptr &&
                     (std::strcmp(object->name, "container") == 0 || std::strcmp(object->name, "server") == 0);
  return LM_NMC_OK;
}

}  // namespace

lm_nmc_result_t nmc_dms_read_entry(uint32_t context, uint32_t index, const char *title_key,
                                   const nmc_dms_entry_sizes &sizes, nmc_dms_entry *entry) {
  if (entry == nullptr || title_key == nullptr || title_key[0] == '\0' || sizes.metadata == 0 || sizes.title == 0 ||
      sizes.bookmark == 0) {
    return LM_NMC_INVALID_PARAMETER;
  }
  return nmc_dms_with_context(
      context, [&](nmc_dms_state &state) { return read(state, index, title_key, sizes, entry); });
}
