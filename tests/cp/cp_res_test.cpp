// Resource selection: real-world DIDL-Lite items (several res each) matched
// against the lab renderer's sink list and crafted lists of picky devices;
// the chosen res is checked exactly. Scaled-up pictures are served by a test
// server on 127.0.0.1; every other URL is only compared, never fetched.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/upnp_mem.h"
#include "base/upnp_xml.h"
#include "cp/upnp_cp.h"
#include "cp/upnp_cp_internal.h"
#include "cp/upnp_cp_res.h"
#include "cp_res_lists.h"
#include "cp_test_util.h"
#include "http_test_server.h"

namespace {

using cp_res_test::kLabRendererSink;

// A DLNA TV that names profiles for everything (no wildcards for audio).
constexpr const char *kPickyTv =
    "http-get:*:audio/mpeg:DLNA.ORG_PN=MP3;DLNA.ORG_OP=01,"
    "http-get:*:audio/L16;rate=44100;channels=2:DLNA.ORG_PN=LPCM,"
    "http-get:*:audio/L16;rate=48000;channels=2:DLNA.ORG_PN=LPCM,"
    "http-get:*:image/jpeg:DLNA.ORG_PN=JPEG_SM,http-get:*:image/jpeg:DLNA.ORG_PN=JPEG_MED,"
    "http-get:*:image/jpeg:DLNA.ORG_PN=JPEG_LRG,"
    "http-get:*:video/mpeg:DLNA.ORG_PN=MPEG_PS_PAL,"
    "http-get:*:video/mp4:DLNA.ORG_PN=AVC_MP4_MP_HD_720p_AAC,"
    "http-get:*:application/x-dtcp1:DLNA.ORG_PN=DTCP_MPEG_PS_PAL";
// A network audio player: MP3 and FLAC without profiles.
constexpr const char *kAudioPlayer = "http-get:*:audio/mpeg:*,http-get:*:audio/x-flac:*";
// An LPCM-only receiver at 48 kHz mono.
constexpr const char *kLpcmMono48k = "http-get:*:audio/L16;rate=48000;channels=1:DLNA.ORG_PN=LPCM";

constexpr const char *kMp3Profile =
    "http-get:*:audio/mpeg:DLNA.ORG_PN=MP3;DLNA.ORG_OP=01;DLNA.ORG_CI=0;DLNA.ORG_FLAGS=01700000000000000000000000000000";
constexpr const char *kMp3Plain = "http-get:*:audio/mpeg:*";
constexpr const char *kFlac = "http-get:*:audio/x-flac:*";
constexpr const char *kLpcm = "http-get:*:audio/L16;rate=44100;channels=2:DLNA.ORG_PN=LPCM;DLNA.ORG_OP=01";

// protocolInfo as an attribute value (DTCP texts carry quotes).
std::string quoted(const std::string &text) {
  std::string out;
  for (char c : text) out += c == '"' ? std::string("&quot;") : std::string(1, c);
  return out;
}

std::string res(const std::string &url, const std::string &protocol_info, const std::string &extra = "") {
  return "<res protocolInfo=\"" + quoted(protocol_info) + "\"" + extra + ">" + url + "</res>";
}

std::string item(const std::string &upnp_class, const std::string &resources) {
  return "<DIDL-Lite xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\" "
         "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\">"
         "<item id=\"64$0$1\" parentID=\"64$0\" restricted=\"1\"><dc:title>Rock &amp; Roll &lt;Live&gt;</dc:title>"
         "<upnp:class>" +
         upnp_class + "</upnp:class>" + resources + "</item></DIDL-Lite>";
}

std::string audio(const std::string &resources) { return item("object.item.audioItem.musicTrack", resources); }
std::string image(const std::string &resources) { return item("object.item.imageItem.photo", resources); }
std::string video(const std::string &resources) { return item("object.item.videoItem", resources); }

const std::string kHome = "http://127.0.0.1:8200/MediaItems/";
const std::string kOutside = "http://media.example.com/MediaItems/";

class ResTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    upnp_mem_init();
    // The loopback prefix becomes a home-network prefix.
    cp_net_lock_init();
    upnp_cp_update_network_prefixes();
  }
  static void TearDownTestSuite() { cp_net_lock_exit(); }
  void TearDown() override { upnp_xml_release(tree_); }

  // Chooses in `didl` and gives the chosen URL ("" when nothing; the result
  // code in result_).
  std::string choose(const char *list, const std::string &didl, unsigned width = 0, unsigned height = 0) {
    upnp_xml_release(tree_);
    tree_ = upnp_xml_parse(didl.c_str());
    EXPECT_NE(tree_, nullptr);
    chosen_ = nullptr;
    result_ = upnp_cp_choose_res(list, width, height, tree_, &chosen_);
    if (result_ != 0) {
      EXPECT_EQ(chosen_, nullptr);
    }
    return chosen_ != nullptr && chosen_->value != nullptr ? chosen_->value : "";
  }
  // Playability only.
  int playable(const char *list, const std::string &didl, unsigned width = 0, unsigned height = 0) {
    upnp_xml_node *tree = upnp_xml_parse(didl.c_str());
    int r = upnp_cp_choose_res(list, width, height, tree, nullptr);
    upnp_xml_release(tree);
    return r;
  }
  const char *attr(const char *name) { return chosen_ ? upnp_xml_find_attribute_value(chosen_, name) : nullptr; }

  upnp_xml_node *tree_ = nullptr;
  upnp_xml_node *chosen_ = nullptr;
  int result_ = -1;
};

// One res matched on its own: (best, ok) and the slot it went to.
struct One {
  int matched;
  int best;
  upnp_cp_res_slots slots;
};

One match_one(const char *list, const std::string &protocol_info, const char *type = nullptr,
              const std::string &resolution = "", unsigned width = 0, unsigned height = 0) {
  std::string text = "<res protocolInfo=\"" + quoted(protocol_info) + "\"" +
                     (resolution.empty() ? "" : " resolution=\"" + resolution + "\"") + ">http://127.0.0.1/x</res>";
  upnp_xml_node *node = upnp_xml_parse(text.c_str());
  One one;
  std::memset(&one.slots, 0, sizeof one.slots);
  one.best = 0;
  one.matched = getMatch(list, upnp_xml_find_attribute_value(node, "protocolInfo"), type, width, height, node,
                         &one.slots, &one.best);
  // Slot pointers are only compared with the node below, then forgotten.
  bool in_slot = one.slots.best == node || one.slots.ok == node || one.slots.transcoded == node ||
                 one.slots.thumbnail == node || one.slots.wrong_type == node;
  EXPECT_EQ(in_slot, one.matched == 1);
  upnp_xml_release(node);
  return one;
}

// ---- Audio ----

TEST_F(ResTest, Mp3WithTheProfileIsBestAndWithoutItOnlyOk) {
  One with = match_one(kPickyTv, kMp3Profile);
  EXPECT_EQ(with.matched, 1);
  EXPECT_EQ(with.best, 1);
  One without = match_one(kPickyTv, kMp3Plain);
  EXPECT_EQ(without.matched, 1);
  EXPECT_EQ(without.best, 0);
  EXPECT_NE(without.slots.ok, nullptr);
  // The profiled copy wins although the plain one comes first.
  EXPECT_EQ(choose(kPickyTv, audio(res(kHome + "1.mp3", kMp3Plain) + res(kHome + "2.mp3", kMp3Profile))),
            kHome + "2.mp3");
}

TEST_F(ResTest, PlainAudioPlayerTakesTheFirstMatchingFormat) {
  // FLAC first, then MP3 with a profile the player does not name: both only
  // OK, the first in document order wins.
  EXPECT_EQ(choose(kAudioPlayer, audio(res(kHome + "3.flac", kFlac) + res(kHome + "3.mp3", kMp3Profile))),
            kHome + "3.flac");
  // WMA is unknown to it, MP3 follows.
  EXPECT_EQ(choose(kAudioPlayer, audio(res(kHome + "4.wma", "http-get:*:audio/x-ms-wma:DLNA.ORG_PN=WMABASE") +
                                       res(kHome + "4.mp3", kMp3Profile))),
            kHome + "4.mp3");
  // Nothing it can play.
  EXPECT_EQ(choose(kAudioPlayer, audio(res(kHome + "5.ogg", "http-get:*:application/ogg:*"))), "");
  EXPECT_EQ(result_, UPNP_CP_NOT_FOUND);
}

TEST_F(ResTest, LabRendererPlaysMinidlnaStyleTracks) {
  // minidlna offers FLAC as audio/x-flac; the lab renderer lists no MP3
  // profile, so both are OK and the first one wins.
  std::string track = audio(res(kHome + "21.flac", "http-get:*:audio/x-flac:*",
                                " size=\"4410000\" duration=\"0:00:25.000\" sampleFrequency=\"44100\"") +
                            res(kHome + "21.mp3", kMp3Profile, " size=\"400000\" bitrate=\"16000\""));
  EXPECT_EQ(choose(kLabRendererSink, track), kHome + "21.flac");
  EXPECT_STREQ(attr("size"), "4410000");
  // It lists 44.1 kHz stereo L16: an LPCM copy of that kind is best.
  std::string with_lpcm = audio(res(kHome + "22.mp3", kMp3Plain) + res(kHome + "22.lpcm", kLpcm));
  EXPECT_EQ(choose(kLabRendererSink, with_lpcm), kHome + "22.lpcm");
  // It has no audio/flac (only audio/x-flac), and wma only as a profile.
  EXPECT_EQ(playable(kLabRendererSink, audio(res(kHome + "23.flac", "http-get:*:audio/flac:*"))), UPNP_CP_NOT_FOUND);
  EXPECT_EQ(playable(kLabRendererSink, audio(res(kHome + "23.wma", "http-get:*:audio/x-ms-wma:DLNA.ORG_PN=WMABASE"))),
            UPNP_CP_NOT_FOUND);
}

TEST_F(ResTest, LpcmRuleComparesRateAndChannels) {
  // 44.1 kHz stereo against a 44.1 kHz stereo entry: best.
  One stereo = match_one(kPickyTv, kLpcm);
  EXPECT_EQ(stereo.matched, 1);
  EXPECT_EQ(stereo.best, 1);
  // The same against a 48 kHz mono receiver: no match.
  EXPECT_EQ(match_one(kLpcmMono48k, kLpcm).matched, 0);
  // 48 kHz without channels (default 1) fits the mono receiver, only OK.
  One mono = match_one(kLpcmMono48k, "http-get:*:audio/L16;rate=48000:DLNA.ORG_PN=LPCM");
  EXPECT_EQ(mono.matched, 1);
  EXPECT_EQ(mono.best, 0);
  // An entry without rate and channels takes any.
  One any = match_one("http-get:*:audio/L16:*", "http-get:*:audio/L16;rate=22050;channels=2:*");
  EXPECT_EQ(any.matched, 1);
  EXPECT_EQ(any.best, 0);  // below 44100
  // Without a rate only a list with ":foo:" accepts it.
  EXPECT_EQ(match_one(kPickyTv, "http-get:*:audio/L16:DLNA.ORG_PN=LPCM").matched, 0);
  EXPECT_EQ(match_one("http-get:*:audio/L16:*,x:foo:y", "http-get:*:audio/L16:DLNA.ORG_PN=LPCM").matched, 1);
  // The LPCM rule decides alone: the three-field text would occur.
  EXPECT_EQ(match_one("http-get:*:audio/L16;rate=48000;channels=2:*",
                      "http-get:*:audio/L16;rate=48000;channels=2;x=1:*").matched,
            1);
  EXPECT_EQ(match_one("http-get:*:audio/L16;rate=44100;channels=2:*",
                      "http-get:*:audio/L16;rate=48000;channels=2:*").matched,
            0);
}

TEST_F(ResTest, LpcmNumbersOutOfBoundsAreNotMisread) {
  // A rate that overflows any integer is unreadable, i.e. absent: no match
  // (not a wrapped number that happens to equal an entry).
  EXPECT_EQ(match_one(kPickyTv, "http-get:*:audio/L16;rate=18446744073709595716;channels=2:DLNA.ORG_PN=LPCM").matched,
            0);
  EXPECT_EQ(match_one(kPickyTv, "http-get:*:audio/L16;rate=4294971396;channels=2:DLNA.ORG_PN=LPCM").matched, 0);
  // Absurd channel counts are unreadable and fall back to one channel.
  One wild = match_one("http-get:*:audio/L16;rate=44100:*", "http-get:*:audio/L16;rate=44100;channels=99999999999:*");
  EXPECT_EQ(wild.matched, 1);
  EXPECT_EQ(wild.best, 0);
  // "bitrate=" is not "rate=".
  EXPECT_EQ(match_one(kPickyTv, "http-get:*:audio/L16;bitrate=44100;channels=2:DLNA.ORG_PN=LPCM").matched, 0);
}

TEST_F(ResTest, TranscodedIsTakenOnlyWhenNoOriginalFits) {
  std::string original = res(kHome + "30.flac", "http-get:*:audio/flac:*");
  std::string transcoded = res(kHome + "30.mp3", std::string(kMp3Profile).replace(
                                                     std::string(kMp3Profile).find("CI=0"), 4, "CI=1"));
  EXPECT_EQ(choose(kPickyTv, audio(original + transcoded)), kHome + "30.mp3");
  // An original that is only OK beats a transcoded best.
  EXPECT_EQ(choose(kPickyTv, audio(transcoded + res(kHome + "30b.mp3", kMp3Plain))), kHome + "30b.mp3");
}

TEST_F(ResTest, WrongTypeIsTheLastResort) {
  // A music track whose only playable copy is a video (MPEG-2 PS).
  std::string clip = res(kHome + "40.mpg", "http-get:*:video/mpeg:DLNA.ORG_PN=MPEG_PS_PAL");
  EXPECT_EQ(choose(kPickyTv, audio(res(kHome + "40.ogg", "http-get:*:application/ogg:*") + clip)), kHome + "40.mpg");
  // With a playable audio copy after it, the audio copy is chosen.
  EXPECT_EQ(choose(kPickyTv, audio(clip + res(kHome + "40.mp3", kMp3Plain))), kHome + "40.mp3");
}

// ---- Pictures ----

std::string jpeg(const std::string &name, const std::string &profile, const std::string &resolution) {
  return res(kHome + name, "http-get:*:image/jpeg:DLNA.ORG_PN=" + profile + ";DLNA.ORG_OP=01",
             " resolution=\"" + resolution + "\"");
}

TEST_F(ResTest, PictureLargerThanTheScreenIsOnlyOkAndTheFittingOneWins) {
  One larger = match_one(kPickyTv, "http-get:*:image/jpeg:DLNA.ORG_PN=JPEG_LRG", nullptr, "2048x1536", 1920, 1080);
  EXPECT_EQ(larger.matched, 1);
  EXPECT_EQ(larger.best, 0);
  EXPECT_NE(larger.slots.ok, nullptr);
  One fitting = match_one(kPickyTv, "http-get:*:image/jpeg:DLNA.ORG_PN=JPEG_LRG", nullptr, "1920x1080", 1920, 1080);
  EXPECT_EQ(fitting.best, 1);

  std::string photo = image(jpeg("p.jpg", "JPEG_LRG", "2048x1536") + jpeg("p1080.jpg", "JPEG_LRG", "1920x1080") +
                            jpeg("p640.jpg", "JPEG_SM", "640x480") + jpeg("p160.jpg", "JPEG_TN", "160x120"));
  EXPECT_EQ(choose(kPickyTv, photo, 1920, 1080), kHome + "p1080.jpg");
  // Without a known screen the first best is the large original.
  EXPECT_EQ(choose(kPickyTv, photo), kHome + "p.jpg");
  // Only the oversized picture: shown anyway (scaled by the renderer).
  EXPECT_EQ(choose(kPickyTv, image(jpeg("q.jpg", "JPEG_LRG", "2048x1536")), 1920, 1080), kHome + "q.jpg");
}

TEST_F(ResTest, PictureFittingExactlyByOneSideIsBestEvenWithoutProfile) {
  // 1440x1080 fills the height of a 1920x1080 screen: exactly fitting. A
  // 1024x768 before it is merely OK.
  std::string photo = image(res(kHome + "r1024.jpg", "http-get:*:image/jpeg:*", " resolution=\"1024x768\"") +
                            res(kHome + "r1440.jpg", "http-get:*:image/jpeg:*", " resolution=\"1440x1080\""));
  EXPECT_EQ(choose(kLabRendererSink, photo, 1920, 1080), kHome + "r1440.jpg");
  EXPECT_EQ(choose(kLabRendererSink, photo), kHome + "r1024.jpg");
}

TEST_F(ResTest, ThumbnailsAreKeptByPixelsAndUsedLast) {
  // Only small pictures: the largest thumbnail is chosen (no scalable URL).
  std::string smalls = image(jpeg("t160.jpg", "JPEG_TN", "160x120") + jpeg("t640.jpg", "JPEG_SM", "640x480") +
                             jpeg("t320.jpg", "JPEG_SM", "320x240"));
  EXPECT_EQ(choose(kPickyTv, smalls), kHome + "t640.jpg");
  // A thumbnail by size alone (no profile): 640x481 is still small.
  One small = match_one(kLabRendererSink, "http-get:*:image/jpeg:*", nullptr, "640x481");
  EXPECT_NE(small.slots.thumbnail, nullptr);
  One big = match_one(kLabRendererSink, "http-get:*:image/jpeg:*", nullptr, "641x481");
  EXPECT_EQ(big.slots.thumbnail, nullptr);
  EXPECT_NE(big.slots.ok, nullptr);
}

// ---- Video ----

TEST_F(ResTest, VideoLargerThanTheScreenIsNeverChosen) {
  std::string film = video(
      res(kHome + "v1080.mp4", "http-get:*:video/mp4:DLNA.ORG_PN=AVC_MP4_MP_HD_720p_AAC;DLNA.ORG_OP=01",
          " resolution=\"1920x1080\"") +
      res(kHome + "v576.mpg", "http-get:*:video/mpeg:DLNA.ORG_PN=MPEG_PS_PAL;DLNA.ORG_OP=10", " resolution=\"720x576\""));
  EXPECT_EQ(choose(kPickyTv, film, 1280, 720), kHome + "v576.mpg");
  EXPECT_EQ(choose(kPickyTv, film), kHome + "v1080.mp4");
  EXPECT_EQ(playable(kPickyTv, video(res(kHome + "w.mp4", "http-get:*:video/mp4:*", " resolution=\"1920x1080\"")), 1280,
                     720),
            UPNP_CP_NOT_FOUND);
  // The lab renderer has no video/mp4 entry but takes quicktime.
  std::string mov = video(res(kHome + "m.mp4", "http-get:*:video/mp4:*") + res(kHome + "m.mov", "http-get:*:video/quicktime:*"));
  EXPECT_EQ(choose(kLabRendererSink, mov), kHome + "m.mov");
}

TEST_F(ResTest, DtcpContentNeedsTheRendererToSpeakDtcp) {
  const std::string protected_pi =
      "http-get:*:application/x-dtcp1;DTCP1HOST=127.0.0.1;DTCP1PORT=8999;CONTENTFORMAT=\"video/mpeg\":"
      "DLNA.ORG_PN=DTCP_MPEG_PS_PAL;DLNA.ORG_OP=01";
  One best = match_one(kPickyTv, protected_pi);
  EXPECT_EQ(best.best, 1);
  // Content format known but not the profile: OK.
  One ok = match_one("http-get:*:application/x-dtcp1:*,http-get:*:video/mpeg:*",
                     "http-get:*:application/x-dtcp1;CONTENTFORMAT=\"video/mpeg\":DLNA.ORG_PN=DTCP_X");
  EXPECT_EQ(ok.matched, 1);
  EXPECT_EQ(ok.best, 0);
  // No DTCP in the list: never, even though video/mpeg is known.
  EXPECT_EQ(match_one(kLabRendererSink, protected_pi).matched, 0);
  // Protected LPCM falls to the LPCM rule.
  One lpcm = match_one("http-get:*:application/x-dtcp1:*,http-get:*:audio/L16:*",
                       "http-get:*:application/x-dtcp1;CONTENTFORMAT=\"audio/L16;rate=44100;channels=2\":*");
  EXPECT_EQ(lpcm.matched, 1);
  EXPECT_EQ(lpcm.best, 1);
  EXPECT_EQ(match_one("http-get:*:application/x-dtcp1:*,http-get:*:audio/L16;rate=48000:*",
                      "http-get:*:application/x-dtcp1;CONTENTFORMAT=\"audio/L16;rate=44100;channels=2\":*")
                .matched,
            0);
}

// ---- Items as the lab's media server sends them (recorded from the lab) ----

const std::string kLab = "http://169.254.77.1:8200/";
const char kDidlOpen[] =
    "<DIDL-Lite xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:upnp=\"urn:schemas-upnp-org:metadata-1-0/upnp/\" "
    "xmlns=\"urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/\" xmlns:dlna=\"urn:schemas-dlna-org:metadata-1-0/\">\n";

const std::string kLabSong = std::string(kDidlOpen) +
    "<item id=\"1$4$0\" parentID=\"1$4\" restricted=\"1\" refID=\"64$0$0$0$0\"><dc:title>First Song</dc:title>"
    "<upnp:class>object.item.audioItem.musicTrack</upnp:class><dc:creator>Alpha Artist</dc:creator>"
    "<upnp:artist>Alpha Artist</upnp:artist><upnp:album>First Album</upnp:album><upnp:genre>Rock</upnp:genre>"
    "<upnp:originalTrackNumber>1</upnp:originalTrackNumber><res size=\"40684\" duration=\"0:00:05.104\" "
    "bitrate=\"62000\" sampleFrequency=\"44100\" nrAudioChannels=\"2\" protocolInfo=\"http-get:*:audio/mpeg:"
    "DLNA.ORG_PN=MP3;DLNA.ORG_OP=01;DLNA.ORG_CI=0;DLNA.ORG_FLAGS=01700000000000000000000000000000\">"
    "http://169.254.77.1:8200/MediaItems/24.mp3</res><upnp:albumArtURI dlna:profileID=\"JPEG_TN\" "
    "xmlns:dlna=\"urn:schemas-dlna-org:metadata-1-0/\">http://169.254.77.1:8200/AlbumArt/1-24.jpg</upnp:albumArtURI>"
    "</item></DIDL-Lite>";
const std::string kLabFlac = std::string(kDidlOpen) +
    "<item id=\"1$4$3\" parentID=\"1$4\" restricted=\"1\" refID=\"64$0$1$0$0\"><dc:title>\xC3\x9Cn\xC3\xAF" "code "
    "T\xC3\xAFtle</dc:title><upnp:class>object.item.audioItem.musicTrack</upnp:class><res size=\"76043\" "
    "duration=\"0:00:03.989\" bitrate=\"152696\" sampleFrequency=\"48000\" nrAudioChannels=\"2\" "
    "protocolInfo=\"http-get:*:audio/x-flac:*\">http://169.254.77.1:8200/MediaItems/34.flac</res></item></DIDL-Lite>";
const std::string kLabPhoto1 = std::string(kDidlOpen) +
    "<item id=\"3$B$0\" parentID=\"3$B\" restricted=\"1\" refID=\"64$2$0\"><dc:title>photo1</dc:title>"
    "<upnp:class>object.item.imageItem.photo</upnp:class><res size=\"200872\" resolution=\"640x480\" "
    "protocolInfo=\"http-get:*:image/jpeg:DLNA.ORG_PN=JPEG_SM;DLNA.ORG_OP=01;DLNA.ORG_CI=0;"
    "DLNA.ORG_FLAGS=00F00000000000000000000000000000\">http://169.254.77.1:8200/MediaItems/117.jpg</res>"
    "<res resolution=\"160x120\" protocolInfo=\"http-get:*:image/jpeg:DLNA.ORG_PN=JPEG_TN;DLNA.ORG_CI=1;"
    "DLNA.ORG_FLAGS=00F00000000000000000000000000000\">http://169.254.77.1:8200/Resized/117.jpg?width=160,height=120"
    "</res></item></DIDL-Lite>";
const std::string kLabPhoto2 = std::string(kDidlOpen) +
    "<item id=\"3$B$1\" parentID=\"3$B\" restricted=\"1\" refID=\"64$2$1\"><dc:title>photo2</dc:title>"
    "<upnp:class>object.item.imageItem.photo</upnp:class><res size=\"13752\" resolution=\"800x600\" "
    "protocolInfo=\"http-get:*:image/jpeg:DLNA.ORG_PN=JPEG_MED;DLNA.ORG_OP=01;DLNA.ORG_CI=0;"
    "DLNA.ORG_FLAGS=00F00000000000000000000000000000\">http://169.254.77.1:8200/MediaItems/121.jpg</res>"
    "<res resolution=\"640x479\" protocolInfo=\"http-get:*:image/jpeg:DLNA.ORG_PN=JPEG_SM;DLNA.ORG_CI=1;"
    "DLNA.ORG_FLAGS=00F00000000000000000000000000000\">http://169.254.77.1:8200/Resized/121.jpg?width=640,height=479"
    "</res><res resolution=\"160x119\" protocolInfo=\"http-get:*:image/jpeg:DLNA.ORG_PN=JPEG_TN;DLNA.ORG_CI=1;"
    "DLNA.ORG_FLAGS=00F00000000000000000000000000000\">http://169.254.77.1:8200/Resized/121.jpg?width=160,height=119"
    "</res></item></DIDL-Lite>";
const std::string kLabClip = std::string(kDidlOpen) +
    "<item id=\"2$8$0\" parentID=\"2$8\" restricted=\"1\" refID=\"64$3$0\"><dc:title>clip</dc:title>"
    "<upnp:class>object.item.videoItem</upnp:class><dc:date>2026-12-08T21:22:55</dc:date><res size=\"1130590\" "
    "duration=\"0:00:03.000\" bitrate=\"376863\" sampleFrequency=\"44100\" nrAudioChannels=\"2\" "
    "resolution=\"320x240\" protocolInfo=\"http-get:*:video/x-msvideo:*\">http://169.254.77.1:8200/MediaItems/125.avi"
    "</res></item></DIDL-Lite>";
const std::string kLabWav = std::string(kDidlOpen) +
    "<item id=\"64$0$2\" parentID=\"64$0\" restricted=\"1\"><dc:title>tone-3s</dc:title>"
    "<upnp:class>object.item.audioItem.musicTrack</upnp:class><res size=\"528440\" duration=\"0:00:02.995\" "
    "bitrate=\"1411200\" sampleFrequency=\"44100\" nrAudioChannels=\"2\" protocolInfo=\"http-get:*:audio/x-wav:*\">"
    "http://169.254.77.1:8200/MediaItems/41.wav</res></item></DIDL-Lite>";

TEST_F(ResTest, LabServerItemsOnTheLabRendererAndPickyDevices) {
  // Audio: the lab renderer takes MP3, FLAC and WAV by MIME type; the picky
  // TV only the MP3 (by profile); the plain player no WAV.
  EXPECT_EQ(choose(kLabRendererSink, kLabSong), kLab + "MediaItems/24.mp3");
  EXPECT_EQ(choose(kPickyTv, kLabSong), kLab + "MediaItems/24.mp3");
  EXPECT_EQ(choose(kLabRendererSink, kLabFlac), kLab + "MediaItems/34.flac");
  EXPECT_EQ(playable(kPickyTv, kLabFlac), UPNP_CP_NOT_FOUND);
  EXPECT_EQ(choose(kLabRendererSink, kLabWav), kLab + "MediaItems/41.wav");
  EXPECT_EQ(playable(kAudioPlayer, kLabWav), UPNP_CP_NOT_FOUND);
  // The same WAV on an audio player whose extra entries add WAV (an L16
  // list without wav).
  char *extra = nullptr;
  ASSERT_EQ(upnp_cp_get_extra_ProtocolInfo_for_model(nullptr, "http-get:*:audio/L16:*", &extra), 0);
  std::string with_extra = std::string("http-get:*:audio/L16:*,") + extra;
  upnp_free_impl(extra);
  EXPECT_EQ(playable(with_extra.c_str(), kLabWav), 0);

  // Pictures: the 800x600 original is plain OK on the lab renderer and best
  // on the picky TV; its scaled copies are transcoded thumbnails.
  EXPECT_EQ(choose(kLabRendererSink, kLabPhoto2), kLab + "MediaItems/121.jpg");
  EXPECT_EQ(choose(kPickyTv, kLabPhoto2), kLab + "MediaItems/121.jpg");
  // On a 640x480 screen the original is too large and the 640x479 copy fits
  // exactly by its width.
  EXPECT_EQ(choose(kPickyTv, kLabPhoto2, 640, 480), kLab + "Resized/121.jpg?width=640,height=479");
  // Only small pictures: the larger thumbnail (the 640x480 original).
  EXPECT_EQ(choose(kLabRendererSink, kLabPhoto1), kLab + "MediaItems/117.jpg");

  // Video: AVI is known to the lab renderer only.
  EXPECT_EQ(choose(kLabRendererSink, kLabClip), kLab + "MediaItems/125.avi");
  EXPECT_EQ(playable(kPickyTv, kLabClip), UPNP_CP_NOT_FOUND);
}

// ---- Choice rules ----

TEST_F(ResTest, FirstOfTwoBestResourcesInDocumentOrder) {
  EXPECT_EQ(choose(kPickyTv, audio(res(kHome + "a.mp3", kMp3Profile) + res(kHome + "b.mp3", kMp3Profile))),
            kHome + "a.mp3");
  EXPECT_EQ(choose(kAudioPlayer, audio(res(kHome + "c.mp3", kMp3Plain) + res(kHome + "d.mp3", kMp3Plain))),
            kHome + "c.mp3");
}

TEST_F(ResTest, HomeNetworkResourcesAreTheOnlyOnesConsideredWhenBothKindsExist) {
  // The outside copy would be best; the home copy is only OK but wins.
  std::string mixed = audio(res(kOutside + "e.mp3", kMp3Profile) + res(kHome + "e.mp3", kMp3Plain));
  EXPECT_EQ(choose(kPickyTv, mixed), kHome + "e.mp3");
  // The home copy does not play at all: nothing, never the outside one.
  std::string unplayable = audio(res(kOutside + "f.mp3", kMp3Profile) + res(kHome + "f.ogg", "http-get:*:application/ogg:*"));
  EXPECT_EQ(choose(kPickyTv, unplayable), "");
  EXPECT_EQ(result_, UPNP_CP_NOT_FOUND);
  // Only outside URLs: chosen among them.
  EXPECT_EQ(choose(kPickyTv, audio(res(kOutside + "g.mp3", kMp3Plain) + res(kOutside + "g2.mp3", kMp3Profile))),
            kOutside + "g2.mp3");
  // Host names are never home, even when they resolve locally.
  EXPECT_EQ(choose(kPickyTv, audio(res("http://localhost/h.mp3", kMp3Profile) + res(kHome + "h.mp3", kMp3Plain))),
            kHome + "h.mp3");
}

TEST_F(ResTest, NothingToChooseFrom) {
  EXPECT_EQ(choose(kPickyTv, audio("")), "");
  EXPECT_EQ(result_, UPNP_CP_NOT_FOUND);
  EXPECT_EQ(choose(kPickyTv, audio("<res protocolInfo=\"http-get:*:audio/mpeg:*\"></res>")), "");
  EXPECT_EQ(result_, UPNP_CP_NOT_FOUND);
  // A URL without protocolInfo is never matched.
  EXPECT_EQ(choose(nullptr, audio("<res>" + kHome + "i.mp3</res>")), "");
  EXPECT_EQ(result_, UPNP_CP_NOT_FOUND);
  EXPECT_EQ(choose(kPickyTv, "<DIDL-Lite/>"), "");
  EXPECT_EQ(result_, UPNP_CP_NOT_FOUND);
  upnp_xml_node *out = reinterpret_cast<upnp_xml_node *>(1);
  EXPECT_EQ(upnp_cp_get_best_res(-1, kPickyTv, nullptr, &out), UPNP_CP_INVALID_PARAMETER);
  EXPECT_EQ(out, nullptr);
}

TEST_F(ResTest, PlayabilityStopsAtTheFirstMatch) {
  EXPECT_EQ(playable(kAudioPlayer, audio(res(kHome + "j.ogg", "http-get:*:application/ogg:*") +
                                         res(kHome + "j.mp3", kMp3Plain))),
            0);
  EXPECT_EQ(playable(kAudioPlayer, audio(res(kHome + "k.ogg", "http-get:*:application/ogg:*"))), UPNP_CP_NOT_FOUND);
  // No list: everything plays.
  EXPECT_EQ(playable(nullptr, audio(res(kHome + "k.ogg", "http-get:*:application/ogg:*"))), 0);
}

TEST_F(ResTest, ContainerResourcesAreChosenWhenThereIsNoItem) {
  std::string didl =
      "<DIDL-Lite><container id=\"1\"><upnp:class>object.container.playlistContainer</upnp:class>" +
      res(kHome + "list.m3u", "http-get:*:audio/x-mpegurl:*") + res(kHome + "list.mp3", kMp3Plain) +
      "</container></DIDL-Lite>";
  EXPECT_EQ(choose(kAudioPlayer, didl), kHome + "list.mp3");
}

TEST_F(ResTest, OriginalResIsTheFirstCopyWithoutRenderer) {
  upnp_xml_node *copy = reinterpret_cast<upnp_xml_node *>(1);
  std::string didl = audio(res(kOutside + "o.flac", kFlac) + res(kHome + "o.mp3", kMp3Profile, " size=\"12\"") +
                           res(kHome + "o2.mp3", kMp3Plain));
  ASSERT_EQ(upnp_cp_get_orig_res(didl.c_str(), &copy), 0);
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy->value, (kHome + "o.mp3").c_str());
  EXPECT_STREQ(upnp_xml_find_attribute_value(copy, "size"), "12");
  EXPECT_EQ(copy->next, nullptr);
  upnp_xml_release(copy);
  EXPECT_EQ(upnp_cp_get_orig_res("<DIDL-Lite><item/></DIDL-Lite>", &copy), UPNP_CP_NOT_FOUND);
  EXPECT_EQ(copy, nullptr);
  EXPECT_EQ(upnp_cp_get_orig_res("not xml", &copy), UPNP_CP_NOT_FOUND);
  EXPECT_EQ(upnp_cp_get_orig_res(nullptr, &copy), UPNP_CP_INVALID_PARAMETER);
}

TEST(ResClassTable, ClassPrefixGivesTheType) {
  EXPECT_STREQ(strClassToTypeTable("object.item.audioItem.musicTrack"), ":audio/");
  EXPECT_STREQ(strClassToTypeTable("object.item.imageItem"), ":image/");
  EXPECT_STREQ(strClassToTypeTable("object.item.videoItem.movie"), ":video/");
  EXPECT_EQ(strClassToTypeTable("object.item.textItem"), nullptr);
  EXPECT_EQ(strClassToTypeTable("object.item"), nullptr);
  EXPECT_EQ(strClassToTypeTable(nullptr), nullptr);
}

// ---- Log lines of the matcher ----

TEST_F(ResTest, MatcherLogsItsDecisions) {
  cp_test::LogFile log;
  std::string didl = image(jpeg("l1.jpg", "JPEG_LRG", "2048x1536") + jpeg("l2.jpg", "JPEG_LRG", "1920x1080"));
  EXPECT_EQ(choose(kPickyTv, didl, 1920, 1080), kHome + "l2.jpg");
  std::string text = log.text();
  EXPECT_EQ(log.count(std::string("renderer protocol info: ") + kPickyTv), 1);
  EXPECT_EQ(log.count("Res resolution 2048x1536 vs screen resolution 1920x1080"), 1);
  EXPECT_EQ(log.count("res protocol info: http-get:*:image/jpeg:DLNA.ORG_PN=JPEG_LRG;DLNA.ORG_OP=01\n"
                      "--> isBest: 0  -  isOK: 1"),
            1);
  EXPECT_EQ(log.count("--> isBest: 1  -  isOK: 1"), 1);  // the fitting one keeps its profile match
  EXPECT_EQ(log.count("transcoded: 0 - thumbnail: 0 - wrong type: 0"), 2);
  EXPECT_EQ(log.count("Set as OK"), 1);
  EXPECT_EQ(log.count("Set as best"), 1);
  EXPECT_LT(text.find("Set as OK"), text.find("Set as best"));
}

TEST_F(ResTest, ThumbnailLogLines) {
  cp_test::LogFile log;
  // Unsized first, then two sized ones (the first sized one displaces it),
  // then a smaller one that is not taken.
  choose(kPickyTv, image(res(kHome + "s0.jpg", "http-get:*:image/jpeg:DLNA.ORG_PN=JPEG_SM") +
                         jpeg("s1.jpg", "JPEG_SM", "320x240") + jpeg("s2.jpg", "JPEG_SM", "640x480") +
                         jpeg("s3.jpg", "JPEG_TN", "160x120")));
  EXPECT_EQ(log.count("Set as thumbnail"), 1);
  EXPECT_EQ(log.count("Set as larger/first thumbnail: 320x240"), 1);
  EXPECT_EQ(log.count("Set as larger/first thumbnail: 640x480"), 1);
  EXPECT_EQ(log.count("Set as larger/first thumbnail"), 2);
  EXPECT_EQ(chosen_ != nullptr ? std::string(chosen_->value) : "", kHome + "s2.jpg");
}

// ---- Scaled-up pictures (test server on 127.0.0.1) ----

class ScaledPicture : public ResTest {
 protected:
  ScaledPicture()
      : server_([this](TestServer &, int fd, const std::string &request) {
          std::string line = request.substr(0, request.find("\r\n"));
          bool found = line.find("/photo_LRG.jpg?scale=1920x1080") != std::string::npos && answer_;
          if (line.find("/nolength_LRG.jpg?scale=1920x1080") != std::string::npos) {
            TestServer::send_all(fd, "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nConnection: close\r\n\r\n");
            return;
          }
          TestServer::send_all(fd, found ? "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nContent-Length: 348211\r\n"
                                           "Connection: close\r\n\r\n"
                                         : "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        }) {}
  std::string url(const std::string &tail) { return server_.url("/") + tail; }

  bool answer_ = true;
  TestServer server_;
};

TEST_F(ScaledPicture, SmallThumbnailGetsAFullScreenCopy) {
  std::string thumb = url("photo_TN.jpg?scale=160x120");
  std::string didl = image(res(thumb, "http-get:*:image/jpeg:DLNA.ORG_PN=JPEG_TN;DLNA.ORG_OP=01",
                               " size=\"5012\" resolution=\"160x120\""));
  EXPECT_EQ(choose(kPickyTv, didl), url("photo_LRG.jpg?scale=1920x1080"));
  EXPECT_STREQ(attr("protocolInfo"), "http-get:*:image/jpeg:DLNA.ORG_PN=JPEG_LRG;DLNA.ORG_OP=01");
  EXPECT_STREQ(attr("resolution"), "1440x1080");
  EXPECT_STREQ(attr("size"), "348211");
  // Inserted right after the thumbnail, which stays as it was.
  upnp_xml_node *first = upnp_xml_find_tag(tree_, "res");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->next, chosen_);
  EXPECT_EQ(first->value, thumb);
  EXPECT_STREQ(upnp_xml_find_attribute_value(first, "resolution"), "160x120");
  // One information request, for the new URL.
  std::vector<std::string> seen = server_.requests();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].rfind("HEAD /photo_LRG.jpg?scale=1920x1080 HTTP/1.1\r\n", 0), 0u) << seen[0];
}

TEST_F(ScaledPicture, SmallProfileAndWidePicture) {
  std::string didl = image(res(url("photo_SM.jpg?scale=640x360"), "http-get:*:image/jpeg:DLNA.ORG_PN=JPEG_SM",
                               " resolution=\"640x360\""));
  EXPECT_EQ(choose(kLabRendererSink, didl), url("photo_LRG.jpg?scale=1920x1080"));
  EXPECT_STREQ(attr("protocolInfo"), "http-get:*:image/jpeg:DLNA.ORG_PN=JPEG_LRG");
  EXPECT_STREQ(attr("resolution"), "1920x1080");
  EXPECT_EQ(attr("size"), nullptr);
}

TEST_F(ScaledPicture, NoCopyWhenTheServerDoesNotAnswerOrTheUrlDoesNotScale) {
  answer_ = false;
  std::string thumb = url("photo_TN.jpg?scale=160x120");
  std::string pi = "http-get:*:image/jpeg:DLNA.ORG_PN=JPEG_TN";
  EXPECT_EQ(choose(kPickyTv, image(res(thumb, pi, " resolution=\"160x120\""))), thumb);
  EXPECT_EQ(upnp_xml_find_tag(tree_, "res")->next, nullptr);
  answer_ = true;
  size_t before = server_.requests().size();
  // The scale in the URL is not the picture's own size.
  std::string other = url("photo_TN.jpg?scale=320x240");
  EXPECT_EQ(choose(kPickyTv, image(res(other, pi, " resolution=\"160x120\""))), other);
  // A longer number that merely starts with the picture's size.
  std::string longer = url("photo_TN.jpg?scale=160x1200");
  EXPECT_EQ(choose(kPickyTv, image(res(longer, pi, " resolution=\"160x120\""))), longer);
  // No resolution known; a PNG; a picture already 1024 wide.
  EXPECT_EQ(choose(kPickyTv, image(res(thumb, pi))), thumb);
  std::string png = url("photo_TN.png?scale=160x120");
  EXPECT_EQ(choose(kLabRendererSink, image(res(png, "http-get:*:image/png:DLNA.ORG_PN=PNG_TN", " resolution=\"160x120\""))),
            png);
  std::string wide = url("photo_SM.jpg?scale=1024x576");
  EXPECT_EQ(choose(kLabRendererSink, image(res(wide, "http-get:*:image/jpeg:DLNA.ORG_PN=JPEG_SM", " resolution=\"1024x576\""))),
            wide);
  EXPECT_EQ(server_.requests().size(), before);
}

TEST_F(ScaledPicture, ASizeThatCannotBeLearntGivesNoCopy) {
  // The server answers without a Content-Length: a res with a size gets no
  // copy, one without a size does.
  std::string thumb = url("nolength_TN.jpg?scale=160x120");
  EXPECT_EQ(choose(kPickyTv, image(res(thumb, "http-get:*:image/jpeg:DLNA.ORG_PN=JPEG_TN",
                                       " size=\"100\" resolution=\"160x120\""))),
            thumb);
  EXPECT_EQ(choose(kPickyTv, image(res(thumb, "http-get:*:image/jpeg:DLNA.ORG_PN=JPEG_TN", " resolution=\"160x120\""))),
            url("nolength_LRG.jpg?scale=1920x1080"));
}

// ---- protocolInfo helpers ----

TEST(ResProtocolInfo, FieldsProfileAndResolution) {
  char buffer[64];
  const char *pi = "http-get:*:audio/mpeg:DLNA.ORG_PN=MP3;DLNA.ORG_OP=01";
  EXPECT_EQ(upnp_cp_pi_get_field(pi, 0, buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "http-get");
  EXPECT_EQ(upnp_cp_pi_get_mime_type(pi, buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "audio/mpeg");
  EXPECT_EQ(upnp_cp_pi_get_field(pi, 3, buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "DLNA.ORG_PN=MP3;DLNA.ORG_OP=01");
  EXPECT_EQ(upnp_cp_pi_get_field("http-get:*", 2, buffer, sizeof buffer), UPNP_CP_NOT_FOUND);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(upnp_cp_pi_get_field(pi, 4, buffer, sizeof buffer), UPNP_CP_INVALID_PARAMETER);
  EXPECT_EQ(upnp_cp_pi_get_field(pi, 3, buffer, 10), UPNP_CP_BUFFER_TOO_SMALL);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(upnp_cp_pi_get_profile(pi, buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "MP3");
  EXPECT_EQ(upnp_cp_pi_get_profile("http-get:*:image/jpeg:DLNA.ORG_PN=JPEG_TN", buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "JPEG_TN");
  EXPECT_EQ(upnp_cp_pi_get_profile(kMp3Plain, buffer, sizeof buffer), UPNP_CP_NOT_FOUND);

  unsigned w = 1, h = 1;
  EXPECT_EQ(upnp_cp_parse_resolution("1920x1080", &w, &h), 1);
  EXPECT_EQ(w, 1920u);
  EXPECT_EQ(h, 1080u);
  EXPECT_EQ(upnp_cp_parse_resolution("640X480", &w, &h), 1);
  EXPECT_EQ(upnp_cp_parse_resolution("4294967297x1", &w, &h), 0);  // would wrap to 1x1
  EXPECT_EQ(w, 0u);
  EXPECT_EQ(upnp_cp_parse_resolution("65536x10", &w, &h), 0);
  EXPECT_EQ(upnp_cp_parse_resolution("0x10", &w, &h), 0);
  EXPECT_EQ(upnp_cp_parse_resolution("640x", &w, &h), 0);
  EXPECT_EQ(upnp_cp_parse_resolution("x480", &w, &h), 0);
  EXPECT_EQ(upnp_cp_parse_resolution(nullptr, &w, &h), 0);
}

TEST(ResProtocolInfo, EmptyProfileMatchesNothing) {
  upnp_mem_init();
  // "DLNA.ORG_PN=;" names no profile; the empty text must not count as
  // occurring in every list.
  One one = match_one(kPickyTv, "http-get:*:audio/x-ms-wma:DLNA.ORG_PN=;DLNA.ORG_OP=01");
  EXPECT_EQ(one.matched, 0);
}

TEST(ResProtocolInfo, ShortProtocolInfoTexts) {
  upnp_mem_init();
  EXPECT_EQ(match_one(kPickyTv, "").matched, 0);
  EXPECT_EQ(match_one(kPickyTv, "http-get").matched, 0);
  EXPECT_EQ(match_one(kPickyTv, "http-get:*:audio/mpeg").matched, 1);  // three fields, no fourth
  EXPECT_EQ(match_one(nullptr, "anything").matched, 1);
}

// ---- Can play a URL ----

TEST(ResCanPlayUrl, MimeTypeOfTheFileName) {
  EXPECT_EQ(upnp_cp_list_can_play_url(kAudioPlayer, "http://127.0.0.1:8200/MediaItems/22.mp3"), 0);
  EXPECT_EQ(upnp_cp_list_can_play_url(kAudioPlayer, "http://127.0.0.1:8200/a.mp3?id=7#x"), 0);
  EXPECT_EQ(upnp_cp_list_can_play_url(kAudioPlayer, "http://127.0.0.1:8200/a.jpg"), UPNP_CP_NOT_FOUND);
  EXPECT_EQ(upnp_cp_list_can_play_url(kAudioPlayer, "http://127.0.0.1:8200/noextension"), UPNP_CP_NOT_FOUND);
  // The host name's dots are not an extension.
  EXPECT_EQ(upnp_cp_list_can_play_url(kAudioPlayer, "http://music.mp3"), UPNP_CP_NOT_FOUND);
  EXPECT_EQ(upnp_cp_list_can_play_url(kLabRendererSink, "HTTP://127.0.0.1/pic.JPG"), 0);
  EXPECT_EQ(upnp_cp_list_can_play_url(kAudioPlayer, "https://127.0.0.1/a.mp3"), UPNP_CP_INVALID_PARAMETER);
  EXPECT_EQ(upnp_cp_list_can_play_url(kAudioPlayer, "rtsp://127.0.0.1/a.mp3"), UPNP_CP_INVALID_PARAMETER);
  EXPECT_EQ(upnp_cp_list_can_play_url(kAudioPlayer, nullptr), UPNP_CP_INVALID_PARAMETER);
  EXPECT_EQ(upnp_cp_list_can_play_url(nullptr, "http://127.0.0.1/a.mp3"), UPNP_CP_NOT_FOUND);
}

}  // namespace
