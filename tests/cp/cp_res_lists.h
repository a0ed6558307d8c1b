// The sink list that the lab's renderer (a gstreamer-based DLNA renderer)
// answered to GetProtocolInfo, recorded from the lab; used as a realistic,
// permissive renderer list by the resource-selection tests.
#ifndef TESTS_CP_CP_RES_LISTS_H
#define TESTS_CP_CP_RES_LISTS_H

namespace cp_res_test {

constexpr const char *kLabRendererSink =
    "http-get:*:application/dash+xml:*,http-get:*:application/kate:*,http-get:*:application/ogg:*,"
    "http-get:*:application/vnd.ms-sstr+xml:*,http-get:*:application/x-3gp:*,"
    "http-get:*:application/x-apetag:*,http-get:*:application/x-ass:*,http-get:*:application/x-hls:*,"
    "http-get:*:application/x-icy:*,http-get:*:application/x-id3:*,http-get:*:application/x-kate:*,"
    "http-get:*:application/x-navi-animation:*,http-get:*:application/x-ogg-avi:*,"
    "http-get:*:application/x-ogm-audio:*,http-get:*:application/x-ogm-text:*,"
    "http-get:*:application/x-ogm-video:*,http-get:*:application/x-rtcp:*,"
    "http-get:*:application/x-rtcp-stream:*,http-get:*:application/x-rtp:*,"
    "http-get:*:application/x-rtp-stream:*,http-get:*:application/x-srtcp:*,"
    "http-get:*:application/x-srtcp-stream:*,http-get:*:application/x-srtp:*,"
    "http-get:*:application/x-srtp-stream:*,http-get:*:application/x-ssa:*,"
    "http-get:*:application/x-subtitle:*,http-get:*:application/x-subtitle-avi:*,"
    "http-get:*:application/x-subtitle-dks:*,http-get:*:application/x-subtitle-lrc:*,"
    "http-get:*:application/x-subtitle-mpl2:*,http-get:*:application/x-subtitle-qttext:*,"
    "http-get:*:application/x-subtitle-sami:*,http-get:*:application/x-subtitle-tmplayer:*,"
    "http-get:*:application/x-subtitle-unknown:*,http-get:*:application/x-subtitle-vtt:*,"
    "http-get:*:application/x-usf:*,http-get:*:audio/*:*,http-get:*:audio/AMR:*,"
    "http-get:*:audio/AMR-WB:*,http-get:*:audio/G722:*,http-get:*:audio/G723:*,"
    "http-get:*:audio/G729:*,http-get:*:audio/L16;rate=44100;channels=2:*,http-get:*:audio/ac3:*,"
    "http-get:*:audio/alac:*,http-get:*:audio/isac:*,http-get:*:audio/m4a:*,http-get:*:audio/mp4:*,"
    "http-get:*:audio/mpeg:*,http-get:*:audio/ogg:*,http-get:*:audio/webm:*,http-get:*:audio/x-ac3:*,"
    "http-get:*:audio/x-adpcm:*,http-get:*:audio/x-alac:*,http-get:*:audio/x-alaw:*,"
    "http-get:*:audio/x-amr-nb-sh:*,http-get:*:audio/x-amr-wb-sh:*,http-get:*:audio/x-au:*,"
    "http-get:*:audio/x-bv:*,http-get:*:audio/x-celt:*,http-get:*:audio/x-dts:*,"
    "http-get:*:audio/x-eac3:*,http-get:*:audio/x-flac:*,http-get:*:audio/x-gsm:*,"
    "http-get:*:audio/x-iLBC:*,http-get:*:audio/x-ldac:*,http-get:*:audio/x-m4a:*,"
    "http-get:*:audio/x-matroska:*,http-get:*:audio/x-mpeg:*,http-get:*:audio/x-mulaw:*,"
    "http-get:*:audio/x-nellymoser:*,http-get:*:audio/x-opus:*,http-get:*:audio/x-pn-realaudio:*,"
    "http-get:*:audio/x-private1-ac3:*,http-get:*:audio/x-private1-dts:*,http-get:*:audio/x-raw:*,"
    "http-get:*:audio/x-rf64:*,http-get:*:audio/x-sbc:*,http-get:*:audio/x-scpls:*,"
    "http-get:*:audio/x-siren:*,http-get:*:audio/x-speex:*,http-get:*:audio/x-tta:*,"
    "http-get:*:audio/x-unaligned-raw:*,http-get:*:audio/x-vorbis:*,http-get:*:audio/x-wav:*,"
    "http-get:*:audio/x-wavpack:*,http-get:*:audio/x-wavpack-correction:*,http-get:*:audio/x-wma:*,"
    "http-get:*:closedcaption/x-cea-608:*,http-get:*:closedcaption/x-cea-708:*,"
    "http-get:*:image/bmp:*,http-get:*:image/jpeg:*,http-get:*:image/png:*,http-get:*:image/svg:*,"
    "http-get:*:image/svg+xml:*,http-get:*:image/tiff:*,http-get:*:image/vnd.wap.wbmp:*,"
    "http-get:*:image/x-MS-bmp:*,http-get:*:image/x-bitmap:*,http-get:*:image/x-bmp:*,"
    "http-get:*:image/x-cmu-raster:*,http-get:*:image/x-icon:*,http-get:*:image/x-j2c:*,"
    "http-get:*:image/x-jpc:*,http-get:*:image/x-pcx:*,http-get:*:image/x-pixmap:*,"
    "http-get:*:image/x-portable-anymap:*,http-get:*:image/x-portable-bitmap:*,"
    "http-get:*:image/x-portable-graymap:*,http-get:*:image/x-portable-pixmap:*,"
    "http-get:*:image/x-sun-raster:*,http-get:*:image/x-tga:*,http-get:*:meta/x-klv:*,"
    "http-get:*:multipart/x-mixed-replace:*,http-get:*:subpicture/x-dvd:*,"
    "http-get:*:subtitle/x-kate:*,http-get:*:text/x-cmml:*,http-get:*:text/x-raw:*,"
    "http-get:*:video/mj2:*,http-get:*:video/mpeg:*,http-get:*:video/mpegts:*,http-get:*:video/ogg:*,"
    "http-get:*:video/quicktime:*,http-get:*:video/webm:*,http-get:*:video/x-av1:*,"
    "http-get:*:video/x-bayer:*,http-get:*:video/x-cineform:*,http-get:*:video/x-daala:*,"
    "http-get:*:video/x-dirac:*,http-get:*:video/x-divx:*,http-get:*:video/x-dv:*,"
    "http-get:*:video/x-ffv:*,http-get:*:video/x-flash-screen:*,http-get:*:video/x-flash-video:*,"
    "http-get:*:video/x-fli:*,http-get:*:video/x-flv:*,http-get:*:video/x-fwht:*,"
    "http-get:*:video/x-h261:*,http-get:*:video/x-h263:*,http-get:*:video/x-h264:*,"
    "http-get:*:video/x-h265:*,http-get:*:video/x-huffyuv:*,http-get:*:video/x-jpeg:*,"
    "http-get:*:video/x-matroska:*,http-get:*:video/x-matroska-3d:*,http-get:*:video/x-mp4-part:*,"
    "http-get:*:video/x-msmpeg:*,http-get:*:video/x-msvideo:*,http-get:*:video/x-pn-realvideo:*,"
    "http-get:*:video/x-prores:*,http-get:*:video/x-pwc1:*,http-get:*:video/x-pwc2:*,"
    "http-get:*:video/x-qt-part:*,http-get:*:video/x-raw:*,http-get:*:video/x-smoke:*,"
    "http-get:*:video/x-sonix:*,http-get:*:video/x-svq:*,http-get:*:video/x-theora:*,"
    "http-get:*:video/x-unaligned-raw:*,http-get:*:video/x-vp6-alpha:*,"
    "http-get:*:video/x-vp6-flash:*,http-get:*:video/x-vp8:*,http-get:*:video/x-vp9:*,"
    "http-get:*:video/x-wmv:*";

}  // namespace cp_res_test

#endif
