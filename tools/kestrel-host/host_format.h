// Formats in words for the terminal mode: the MIME type of an item (from
// its resource's protocolInfo, else from its URL's extension), whether a
// renderer's sink protocolInfo list takes it, and the words that say which
// formats a renderer takes when it does not.
#ifndef KESTREL_HOST_FORMAT_H
#define KESTREL_HOST_FORMAT_H

#include <string>
#include <vector>

namespace host {

// The MIME type: the third field of protocol_info when it has one, else the
// one the URL's extension stands for; empty when neither says.
std::string item_mime(const std::string &url, const std::string &protocol_info);
// The MIME types of a sink list ("http-get:*:audio/mpeg:*,..."), each once,
// in the list's order.
std::vector<std::string> sink_formats(const std::string &sink);
// Whether the list takes the MIME type ("*" and "audio/*" entries count).
bool sink_takes(const std::string &sink, const std::string &mime);
// "it takes these video formats: video/mp4, video/x-flv (212 formats in
// all)": the formats of the same major type first (at most `shown`), else
// the first ones of the list.
std::string formats_taken_words(const std::string &sink, const std::string &mime, size_t shown = 16);

}  // namespace host

#endif
