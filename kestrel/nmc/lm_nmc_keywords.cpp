// Keyword translation of renderer updates and the transport state codes.
#include "nmc/lm_nmc_keywords.h"

#include <cstring>

namespace {

struct KeywordRow {
  const char *keyword;
  const char *markers[5];  // ends with none
};

const KeywordRow k_rows[] = {
    {"DmrChangedMetadata", {"<CurrentTrackMetaData", "<CurrentTrackURI", "<AVTransportURIMetaData", "<AVTransportURI"}},
    {"DmrChangedState", {"<TransportState"}},
    {"DmrChangedStatus", {"<TransportStatus"}},
    {"DmrChangedVolume", {"<Volume", "<VolumeDB"}},
    {"DmrChangedMute", {"<Mute"}},
    {"DmrChangedDuration", {"<CurrentTrackDuration"}},
    {"DmrChangedActions", {"<CurrentTransportActions"}},
    {"DmrChangedBrightness", {"<Brightness"}},
    {"DmrChangedContrast", {"<Contrast"}},
    {"DmrChangedLoudness", {"<Loudness"}},
};

const char *const k_states[] = {"STOPPED", "PLAYING", "TRANSITIONING", "PAUSED_PLAYBACK",
                                "PAUSED_RECORDING", "RECORDING", "NO_MEDIA_PRESENT"};

}  // namespace

std::vector<std::string> nmc_update_keywords(const char *text) {
  std::vector<std::string> keywords;
  if (text == nullptr) return keywords;
  for (const KeywordRow &row : k_rows) {
    for (const char *marker : row.markers) {
      if (marker == nullptr) break;
      if (std::strstr(text, marker) != nullptr) {
        keywords.push_back(row.keyword);
        break;
      }
    }
  }
  return keywords;
}

int nmc_transport_state_code(const char *name) {
  if (name == nullptr) return -1;
  for (int code = 0; code < 7; ++code) {
    if (std::strcmp(name, k_states[code]) == 0) return code;
  }
  return -1;
}
