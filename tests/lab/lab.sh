#!/usr/bin/env bash
# lab.sh - the project's DLNA/UPnP test lab: real third-party peers from Debian's packages
# (minidlna as media server, gmediarender as renderers) with media the lab generates, all inside
# private network namespaces this script creates. Nothing it starts can reach a real network:
# the namespaces hold only the loopback and a veth pair made here, with link-local addresses.
#
# Usage (as root):
#   lab.sh up            bring the lab up in the background and return once every peer answers
#   lab.sh down          end every process the lab started and remove its namespaces
#   lab.sh run CMD...    run CMD in the library's namespace with the LAB_* variables set; when no
#                        lab is up, bring one up for CMD alone and take it down afterwards.
#                        Exit status is CMD's.
#   lab.sh hold          bring the lab up and keep it up until Ctrl-C / SIGTERM
#   lab.sh shell         an interactive shell in the library's namespace (lab must be up)
#   lab.sh status        say whether a lab is up and print its variables
#   lab.sh stop NAME     stop one peer of a lab that is up (minidlna, renderer<i>, http, fakesite,
#                        rygel, player, flapper, servers,
#                        playlistserver)
#   lab.sh start NAME    start it again as before; returns once it answers M-SEARCH (bounded)
#                        and prints its description URL
# 'up' (and 'hold') first takes down a lab still up, or left behind, in the same LAB_DIR.
#
# Variables for commands in the lab (also in $LAB_DIR/lab.env, shell-quoted):
#   LAB_SERVER_DESC, LAB_SERVER_UDN, LAB_SERVER_NAME     the media server
#   LAB_RENDERERS                                        number of renderers
#   LAB_RENDERER<i>_DESC, _UDN, _NAME (i = 1..N)         each renderer; LAB_RENDERER_DESC/_UDN/
#                                                        _NAME: the first; LAB_RENDERER_DESCS: all
#   LAB_HTTP_URL, LAB_WWW    the plain HTTP file server and the folder it serves (media/ holds
#                            the lab's media; desc/ is for files tests write, e.g. descriptions)
#   LAB_MEDIA                the generated media
#   LAB_FAKESITE_URL, LAB_FAKESITE_HOST  the fake remote site (tests/lab/fakesite.py: video
#                            information, streams, data feed, a Date header), its URL and host:port
#   LAB_IFACE, LAB_ADDR      the library's interface and address; LAB_PEER_IFACE, LAB_PEER_ADDR
#                            the peers'
#   LAB_AUDIO_COUNT          tagged tracks outside the bulk container
#   LAB_BULK_PATH, LAB_BULK_COUNT  title path of the bulk container from the root, its size
#   LAB_BIG_URL, LAB_BIG_FILE, LAB_BIG_SIZE  with LAB_BIG_MB: the media server's URL of the big
#                            file, the file itself and its size in bytes (unset otherwise)
#   LAB_TOPOLOGY, LAB_DIR, LAB_NS_PID (a process in the library's namespace: nsenter -t PID -n)
#   LAB_RYGEL                0 or 1; with 1 also:
#   LAB_RYGEL_SERVER_DESC, _UDN, _NAME        rygel's media server (uploads allowed)
#   LAB_RYGEL_RENDERER_DESC, _UDN, _NAME      rygel's renderer
#   LAB_RYGEL_UPLOAD         the folder uploads land in, the only one rygel shares ("Files &
#                            Folders/upload" in its tree); LAB_RYGEL_SEED: how many files were
#                            copied there at start (a WAV, a JPEG and an AVI of the lab's media)
#   LAB_PLAYER_DESC, _UDN, _NAME, LAB_PLAYER_URL   the crafted associated player (its base URL)
#   LAB_FLAPPER_DESC, _UDN, _NAME                  the crafted renderer that comes and goes
#   LAB_CRAFTED_SERVERS, LAB_CRAFTED_SERVER_UDN    crafted servers started at 'up'; their UDN pattern
#                        (tests/lab/crafted_peer.py; 'lab.sh start player|flapper|servers' starts
#                        them in any lab, the switches below at 'up')
#   LAB_PLAYLIST_SERVER      0 or 1: whether the crafted local playlist server runs (it can always
#                            be started by name: lab.sh start playlistserver); LAB_PLAYLIST_SERVER_DESC,
#                            _UDN, _NAME, _URL (its base URL; /lab/state, /lab/refuse, /lab/seed),
#                            LAB_PLAYLIST_BODIES (the folder every body it received is kept in)
#
# Environment:
#   LAB_DIR=DIR          state and logs of this lab (default /tmp/lumet-lab; media, web root and
#                        the server database live in /dev/shm while it is up); labs with
#                        different LAB_DIR are independent of each other
#   LAB_TOPOLOGY=split   the library's side and the peers' side are two namespaces joined by the
#                        veth pair (library 169.254.77.2 on lab1, peers 169.254.77.1 on lab0);
#                        "single": everything in one namespace on lab0 (default split)
#   LAB_RENDERERS=N      number of gmediarender instances (default 2)
#   LAB_BULK=N           tracks in the bulk container (default 2000)
#   LAB_BIG_MB=N         add one generated WAV file of N MiB (random samples) for the media server
#                        to serve, for throughput measurements (default 0: none); it lives with the
#                        rest of the media and is removed with the lab
#   LAB_TIMEOUT=S        readiness wait for the peers' M-SEARCH answers (default 20)
#   LAB_INDEX_TIMEOUT=S  wait for the media server's index to be complete (default 60)
#   LAB_LIFETIME=S       a lab left up by 'up' ends itself after S seconds (default 7200)
#   LAB_KEEP=1           keep media and peer configuration after 'down' (logs are always kept)
#   LAB_RYGEL=1          add rygel (a media server that takes uploads and sends ContentDirectory
#                        events, and a renderer) on port 8300 of the peers' side; default 0: none
#   LAB_PLAYER=1         start the crafted associated player ("LMM Player Lab", answers /lmmcp)
#   LAB_FLAPPER=1        start the crafted renderer that leaves and returns (LAB_FLAPPER_UP and
#                        LAB_FLAPPER_DOWN seconds, default 4 and 2) with odd volume and state answers
#   LAB_CRAFTED_SERVERS=N  the number of crafted (empty) media servers 'servers' runs (default 0:
#                        not started at 'up'; 'lab.sh start servers' then runs 30)
#   LAB_PLAYLIST_SERVER=1  start the crafted local playlist server (tests/lab/playlist_server.py) on
#                        port 8390 of the peers' side with the lab; default 0: startable by name only
#
# Why a veth pair and not only lo: libupnp-based peers (gmediarender) refuse loopback interfaces.
set -euo pipefail
export PATH="$PATH:/usr/sbin:/sbin"   # minidlnad and ip live there; CI may not have them on PATH

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
SELF="$HERE/$(basename "${BASH_SOURCE[0]}")"
LABTOOL="$HERE/labtool.py"
LAB_DIR=${LAB_DIR:-/tmp/lumet-lab}
TOPOLOGY=${LAB_TOPOLOGY:-split}
NREND=${LAB_RENDERERS:-2}
NBULK=${LAB_BULK:-2000}
BIG_MB=${LAB_BIG_MB:-0}
TMO=${LAB_TIMEOUT:-20}
ITMO=${LAB_INDEX_TIMEOUT:-60}
LIFETIME=${LAB_LIFETIME:-7200}
RYGEL=${LAB_RYGEL:-0}
# crafted peers (tests/lab/crafted_peer.py)
PLAYER=${LAB_PLAYER:-0}
FLAPPER=${LAB_FLAPPER:-0}
NCRAFTED=${LAB_CRAFTED_SERVERS:-0}
FLAP_UP=${LAB_FLAPPER_UP:-4}
FLAP_DOWN=${LAB_FLAPPER_DOWN:-2}
PLAYER_PORT=49601
FLAPPER_PORT=49602
CRAFTED_PORT=8400
PLAYER_UUID=1ab0c0d0-0000-4000-8000-000000000001
FLAPPER_UUID=1ab0c0d0-0000-4000-8000-000000000002
CRAFTED_UDN="uuid:2ab0c0d0-0000-4000-8000-%012d"
PLAYLIST_SERVER=${LAB_PLAYLIST_SERVER:-0}

PEER_IF=lab0
PEER_ADDR=169.254.77.1
HTTP_PORT=8080
FAKESITE_PORT=8090
SERVER_PORT=8200
SERVER_UUID=4d696e69-444c-164e-9d41-000000000001
SERVER_NAME="Lab Media Server"
RYGEL_PORT=8300
RYGEL_SERVER_NAME="Lab Rygel Server"
RYGEL_RENDERER_NAME="Lab Rygel Renderer"
RYGEL_SEED=3
PLAYLIST_PORT=8390
PLAYLIST_UDN=uuid:4c756d65-7450-4c53-8000-00000000a001
renderer_uuid() { printf '0ab0c0d0-0000-4000-8000-%012d' "$1"; }

T0=$(date +%s.%N)
elapsed() { awk -v a="$(date +%s.%N)" -v b="$T0" 'BEGIN { printf "%.2f", a - b }'; }
log() { echo "[lab $(elapsed)s] $*" >&2; }
die() { echo "lab.sh: $*" >&2; exit 2; }

need_root() { [ "$(id -u)" = 0 ] || die "must run as root (it creates network namespaces)"; }

case "$TOPOLOGY" in split|single) ;; *) die "LAB_TOPOLOGY must be split or single" ;; esac
case "$RYGEL" in 0|1) ;; *) die "LAB_RYGEL must be 0 or 1" ;; esac
case "$PLAYER$FLAPPER" in [01][01]) ;; *) die "LAB_PLAYER and LAB_FLAPPER must be 0 or 1" ;; esac
[[ $NCRAFTED =~ ^[0-9]+$ ]] && [ "$NCRAFTED" -le 200 ] || die "LAB_CRAFTED_SERVERS must be 0..200"
[[ $FLAP_UP =~ ^[0-9]+$ ]] && [[ $FLAP_DOWN =~ ^[0-9]+$ ]] || die "LAB_FLAPPER_UP/DOWN must be numbers"
case "$PLAYLIST_SERVER" in 0|1) ;; *) die "LAB_PLAYLIST_SERVER must be 0 or 1" ;; esac
for v in NREND NBULK BIG_MB TMO ITMO LIFETIME; do
  [[ ${!v} =~ ^[0-9]+$ ]] || die "$v must be a number"
done
[ "$NREND" -ge 1 ] && [ "$NREND" -le 200 ] || die "LAB_RENDERERS must be 1..200"
[ "$BIG_MB" -le 2000 ] || die "LAB_BIG_MB must be 0..2000"

# ------------------------------------------------------------------ process bookkeeping
# Every process the lab starts runs in its own process group (setsid) and is written to
# $LAB_DIR/pids as "PID STARTTIME NAME". Teardown ends exactly those groups; the start time
# (from /proc) guards against a recycled PID.
start_time() { local s; s=$(cat "/proc/$1/stat" 2> /dev/null) || return 1; s=${s##*) }; set -- $s; echo "${20}"; }
is_ours() { local t; t=$(start_time "$1" 2> /dev/null) && [ -n "$t" ] && [ "$t" = "$2" ]; }
record() { echo "$1 $(start_time "$1" || echo gone) $2" >> "$LAB_DIR/pids"; }

# our_groups [peers]: the recorded process groups that are still ours; with "peers" only those of
# the peers and the file server, not the namespace holders
our_groups() {
  [ -f "$LAB_DIR/pids" ] || return 0
  local pid st name
  while read -r pid st name; do
    [ -n "$pid" ] || continue
    if [ "${1:-}" = peers ] && [[ $name == netns-* ]]; then continue; fi
    # A live leader with another start time is a recycled PID: not ours. A dead leader's PID
    # cannot be reused while members of its group live, so such a group is still ours.
    if [ -d "/proc/$pid" ] && ! is_ours "$pid" "$st"; then continue; fi
    echo "$pid"
  done < "$LAB_DIR/pids"
}

# wait_groups TENTHS GROUP...: wait up to TENTHS tenths of a second until no group has a member
wait_groups() {
  local n=$1 i g left; shift
  for i in $(seq "$n"); do
    left=0; for g in "$@"; do kill -0 -- "-$g" 2> /dev/null && left=1; done
    [ $left = 0 ] && return 0
    sleep 0.1
  done
  return 1
}

# kill_recorded: TERM every recorded group, wait up to 5 s, then KILL what is left.
kill_recorded() {
  local groups g
  mapfile -t groups < <(our_groups)
  [ ${#groups[@]} -gt 0 ] || return 0
  for g in "${groups[@]}"; do kill -TERM -- "-$g" 2> /dev/null || true; done
  wait_groups 50 "${groups[@]}" && return 0
  for g in "${groups[@]}"; do kill -KILL -- "-$g" 2> /dev/null || true; done
  wait_groups 20 "${groups[@]}" || true
}

# stop_peers: TERM the peers and the file server and give them up to 3 s to end. The teardown
# calls it while their link is still up, so they end as on a home network: the renderers' byebye
# goes out, and the media server does not see its interface vanish under it first (it would
# re-read its interfaces and log "Network interface lab0 not found" on its way out).
stop_peers() {
  local groups g
  mapfile -t groups < <(our_groups peers)
  [ ${#groups[@]} -gt 0 ] || return 0
  for g in "${groups[@]}"; do kill -TERM -- "-$g" 2> /dev/null || true; done
  wait_groups 30 "${groups[@]}" || true
}

supervisor_alive() {
  [ -f "$LAB_DIR/supervisor" ] || return 1
  local pid st; read -r pid st < "$LAB_DIR/supervisor" || return 1
  is_ours "$pid" "$st" && echo "$pid"
}

# ------------------------------------------------------------------ namespaces
# links_of NSPID: interface names of that namespace
links_of() { nsenter -t "$1" -n ip -o link show | awk -F': ' '{ sub(/@.*/, "", $2); print $2 }'; }
# check_links NSPID ALLOWED...: refuse to go on when the namespace has any other interface
check_links() {
  local ns=$1; shift
  local l a ok
  for l in $(links_of "$ns"); do
    ok=0; for a in "$@"; do [ "$l" = "$a" ] && ok=1; done
    [ $ok = 1 ] || die "namespace of PID $ns has interface '$l' that the lab did not make; refusing"
  done
  [ "$(readlink "/proc/$ns/ns/net")" != "$(readlink /proc/self/ns/net)" ] ||
    die "PID $ns is in this shell's network namespace; refusing"
}
in_ns() { local ns=$1; shift; nsenter -t "$ns" -n -- "$@"; }

# ------------------------------------------------------------------ media
gst() { gst-launch-1.0 -q "$@" > /dev/null; }
gen_media() {
  local D=$1 A B i wh gp=()
  A="$D/music/Alpha Artist/First Album"; B="$D/music/Björk Ensemble/Second Album"
  mkdir -p "$A" "$B" "$D/pictures" "$D/video" "$D/bulk"
  # gst-launch joins its argv again, so the quotes inside tags= are escaped twice
  mp3() {
    gst audiotestsrc freq="$1" num-buffers=$(( $2 * 44100 / 1024 )) ! audio/x-raw,rate=44100,channels=2 \
      ! audioconvert ! lamemp3enc target=bitrate bitrate=128 \
      ! taginject "tags=\"title=\\\"$3\\\",artist=\\\"Alpha Artist\\\",album=\\\"First Album\\\",track-number=(uint)$4,genre=Rock\"" \
      ! id3v2mux ! filesink location="$A/$5"
  }
  flac() {
    gst audiotestsrc freq="$1" num-buffers=$(( 4 * 48000 / 1024 )) ! audio/x-raw,rate=48000,channels=2 \
      ! audioconvert \
      ! taginject "tags=\"title=\\\"$2\\\",artist=\\\"Björk Ensemble\\\",album=\\\"Second Album\\\",track-number=(uint)$3,genre=Jazz\"" \
      ! flacenc ! filesink location="$B/$4"
  }
  mp3 440 5 "First Song" 1 "01 - First Song.mp3" & gp+=($!)
  mp3 660 6 "Rock & Roll <Live>" 2 "02 - Rock and Roll.mp3" & gp+=($!)
  mp3 220 30 "Long Tone" 3 "03 - Long Tone.mp3" & gp+=($!)
  flac 330 "Ünïcode Tïtle" 1 "01 - Unicode.flac" & gp+=($!)
  flac 550 "Second FLAC" 2 "02 - Second.flac" & gp+=($!)
  gst audiotestsrc freq=880 num-buffers=$(( 3 * 44100 / 1024 )) ! audio/x-raw,rate=44100,channels=2,format=S16LE \
    ! wavenc ! filesink location="$D/music/tone-3s.wav" & gp+=($!)
  gst videotestsrc pattern=red num-buffers=1 ! video/x-raw,width=300,height=300 ! jpegenc \
    ! filesink location="$A/cover.jpg" & gp+=($!)
  i=0
  for wh in 640,480 800,600 1024,768 1920,1080; do
    i=$((i + 1))
    gst videotestsrc pattern=$i num-buffers=1 ! video/x-raw,width=${wh%,*},height=${wh#*,} ! jpegenc \
      ! filesink location="$D/pictures/photo$i.jpg" & gp+=($!)
  done
  # MJPEG + PCM in AVI: indexed by the server without any codec outside plugins-good
  gst videotestsrc num-buffers=75 ! video/x-raw,width=320,height=240,framerate=25/1 ! jpegenc quality=40 \
    ! avimux name=m ! filesink location="$D/video/clip.avi" \
    audiotestsrc num-buffers=130 ! audio/x-raw,rate=44100,channels=2,format=S16LE ! m. & gp+=($!)
  # the bulk container: one short untagged MP3, copied under many names with distinct tags
  gst audiotestsrc freq=500 num-buffers=$(( 2 * 22050 / 1024 )) ! audio/x-raw,rate=22050,channels=1 \
    ! audioconvert ! lamemp3enc target=bitrate bitrate=32 cbr=true ! filesink location="$D/bulk.raw.mp3" & gp+=($!)
  # only these jobs: the namespace holders are children too, and never end
  wait "${gp[@]}" || true
  local f
  for f in "$A/01 - First Song.mp3" "$A/02 - Rock and Roll.mp3" "$A/03 - Long Tone.mp3" "$A/cover.jpg" \
           "$B/01 - Unicode.flac" "$B/02 - Second.flac" "$D/music/tone-3s.wav" "$D/video/clip.avi" \
           "$D/pictures/photo1.jpg" "$D/pictures/photo4.jpg" "$D/bulk.raw.mp3"; do
    [ -s "$f" ] || { log "media generation failed: $f"; exit 1; }
  done
  python3 "$LABTOOL" bulk "$D/bulk.raw.mp3" "$D/bulk" "$NBULK"
  rm -f "$D/bulk.raw.mp3"
  if [ "$BIG_MB" -gt 0 ]; then
    # a WAV header (44.1 kHz, 16-bit stereo) over random samples: cheap to make, indexed by the
    # server, and every block distinct
    mkdir -p "$D/big"
    python3 "$LABTOOL" wavheader $((BIG_MB * 1048576)) > "$D/big/big.wav"
    head -c $((BIG_MB * 1048576)) /dev/urandom >> "$D/big/big.wav"
  fi
}
NAUDIO=6   # tagged tracks outside the bulk container

# ------------------------------------------------------------------ the supervisor
# Runs in its own session; owns the namespaces and the peers; its EXIT trap tears everything
# down, so an error, SIGINT, SIGTERM or SIGHUP all end in the same teardown.
supervise() {
  local hold=${1:-0}
  mkdir -p "$LAB_DIR"
  echo "$$ $(start_time $$)" > "$LAB_DIR/supervisor"
  : > "$LAB_DIR/pids"
  trap teardown EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM HUP
  rm -rf "$LAB_DIR/logs" "$LAB_DIR/cmd"
  mkdir -p "$LAB_DIR/logs"

  # namespaces: a holder process each, in its own group; they vanish with their last process
  local peer_ns cp_ns
  setsid unshare --net -- sleep infinity < /dev/null > /dev/null 2>&1 &
  peer_ns=$!; record $peer_ns netns-peers
  if [ "$TOPOLOGY" = split ]; then
    setsid unshare --net -- sleep infinity < /dev/null > /dev/null 2>&1 &
    cp_ns=$!; record $cp_ns netns-library
  else
    cp_ns=$peer_ns
  fi
  local i
  for i in $(seq 50); do
    [ "$(readlink /proc/$peer_ns/ns/net 2> /dev/null)" != "$(readlink /proc/self/ns/net)" ] &&
      [ "$(readlink /proc/$cp_ns/ns/net 2> /dev/null)" != "$(readlink /proc/self/ns/net)" ] && break
    sleep 0.02
  done
  check_links $peer_ns lo
  check_links $cp_ns lo

  local cp_if cp_addr links
  if [ "$TOPOLOGY" = split ]; then
    cp_if=lab1; cp_addr=169.254.77.2; links="lo $PEER_IF $cp_if"
    in_ns $peer_ns ip -batch - << EOF
link set lo up
link add $PEER_IF type veth peer name $cp_if netns $cp_ns
EOF
    in_ns $cp_ns ip -batch - << EOF
link set lo up
link set $cp_if multicast on up
addr add $cp_addr/16 dev $cp_if
route add 239.0.0.0/8 dev $cp_if
EOF
  else
    cp_if=$PEER_IF; cp_addr=$PEER_ADDR; links="lo $PEER_IF ${PEER_IF}p"
    in_ns $peer_ns ip -batch - << EOF
link set lo up
link add $PEER_IF type veth peer name ${PEER_IF}p
link set ${PEER_IF}p up
EOF
  fi
  in_ns $peer_ns ip -batch - << EOF
link set $PEER_IF multicast on up
addr add $PEER_ADDR/16 dev $PEER_IF
route add 239.0.0.0/8 dev $PEER_IF
EOF
  # shellcheck disable=SC2086
  check_links $peer_ns $links
  # shellcheck disable=SC2086
  check_links $cp_ns $links
  log "namespaces ready ($TOPOLOGY): peers $PEER_ADDR on $PEER_IF, library $cp_addr on $cp_if"

  # media, web root and the server's database live in memory: the server indexes faster there
  local data media www
  data=$(mktemp -d /dev/shm/lumet-lab.XXXXXX 2> /dev/null) || { data=$LAB_DIR/data.d; mkdir -p "$data"; }
  echo "$data" > "$LAB_DIR/data"
  media=$data/media www=$data/www
  mkdir -p "$www/desc" "$media"
  ln -s ../media "$www/media"

  # the renderers and the plain HTTP file server start while the media is made
  start_in http $peer_ns python3 -m http.server "$HTTP_PORT" --bind "$PEER_ADDR" --directory "$www"
  start_in fakesite $peer_ns python3 "$HERE/fakesite.py" --bind "$PEER_ADDR" --port "$FAKESITE_PORT" \
    --files "http://$PEER_ADDR:$HTTP_PORT/"
  # renderers: clock-synced null sinks, so tracks play in real time without sound hardware
  for i in $(seq 1 "$NREND"); do
    start_in "renderer$i" $peer_ns gmediarender -I $PEER_IF -p $((49500 + i)) -f "Lab Renderer $i" \
      -u "$(renderer_uuid "$i")" \
      --gstout-audiopipe="fakesink sync=true" --gstout-videopipe="fakesink sync=true" --logfile=stderr
  done

  gen_media "$media"
  log "media generated: $(find "$media" -type f | wc -l) files, $(du -sh "$media" | cut -f1)"

  # media server. Its events: it grants SUBSCRIBE and connects to the callback at once, but never
  # writes on that connection (the socket never enters the write set of its poll), so it sends no
  # NOTIFY at all, not even the initial one, on any network; its SystemUpdateID does follow
  # content changes (inotify), through GetSystemUpdateID
  mkdir -p "$data/minidlna/db"
  cat > "$data/minidlna/minidlna.conf" << EOF
media_dir=A,$media/music
media_dir=A,$media/bulk
media_dir=P,$media/pictures
media_dir=V,$media/video
$([ "$BIG_MB" -gt 0 ] && echo "media_dir=A,$media/big")
db_dir=$data/minidlna/db
log_dir=$data/minidlna
network_interface=$PEER_IF
port=$SERVER_PORT
friendly_name=$SERVER_NAME
uuid=$SERVER_UUID
serial=12345678
model_number=1
inotify=yes
notify_interval=30
album_art_names=cover.jpg
# general at info: the log shows the interface and address the server enabled
log_level=general=info
EOF
  start_in minidlna $peer_ns minidlnad -S -R -f "$data/minidlna/minidlna.conf" -P "$data/minidlna/minidlna.pid"
  if [ "$RYGEL" = 1 ]; then start_rygel "$data/rygel" "$media" $peer_ns; fi
  crafted_peers $peer_ns
  # the crafted local playlist server: its command is always recorded (lab.sh start playlistserver)
  local pls_cmd=(python3 "$HERE/playlist_server.py" --bind "$PEER_ADDR" --port "$PLAYLIST_PORT"
                 --keep "$data/playlists" --seed "music/playlists|Not Ours|Someone Else"
                 --track "Lab Tone|http://$PEER_ADDR:$HTTP_PORT/media/music/tone-3s.wav"
                 --track "Lab Tone & <Two>|http://$PEER_ADDR:$HTTP_PORT/media/music/tone-3s.wav")
  mkdir -p "$LAB_DIR/cmd"; printf '%q ' "${pls_cmd[@]}" > "$LAB_DIR/cmd/playlistserver"
  if [ "$PLAYLIST_SERVER" = 1 ]; then start_in playlistserver $peer_ns "${pls_cmd[@]}"; fi

  # readiness, probed from the library's side so the path the library will use is proven
  local server_desc want=("uuid:$SERVER_UUID") descs=() rdescs=()
  for i in $(seq 1 "$NREND"); do want+=("uuid:$(renderer_uuid "$i")"); done
  mapfile -t descs < <(probe "media server and $NREND renderer(s)" $cp_ns $cp_addr upnp:rootdevice "${want[@]}")
  [ ${#descs[@]} = $((NREND + 1)) ] || exit 1
  server_desc=${descs[0]}
  rdescs=("${descs[@]:1}")
  wait_indexed $cp_ns $cp_addr "$server_desc" "Music/All Music" $((NAUDIO + NBULK + (BIG_MB > 0 ? 1 : 0)))
  local big_url=""
  if [ "$BIG_MB" -gt 0 ]; then
    big_url=$(in_ns $cp_ns python3 "$LABTOOL" resurl "$server_desc" "Browse Folders/big" big) ||
      { log "media server: no URL for the big file"; exit 1; }
  fi
  wait_http $cp_ns "http://$PEER_ADDR:$HTTP_PORT/media/music/tone-3s.wav"
  local rygel_descs=() rygel_udns=() rd u
  if [ "$RYGEL" = 1 ]; then
    # rygel makes its own UDNs: its devices are found by type (it answers the version-1 types)
    # and its port, and their UDNs read from their descriptions
    mapfile -t rygel_descs < <(probe "rygel's media server" $cp_ns $cp_addr \
                                 urn:schemas-upnp-org:device:MediaServer:1 ":$RYGEL_PORT/"
                               probe "rygel's renderer" $cp_ns $cp_addr \
                                 urn:schemas-upnp-org:device:MediaRenderer:1 ":$RYGEL_PORT/")
    [ ${#rygel_descs[@]} = 2 ] || exit 1
    for rd in "${rygel_descs[@]}"; do
      u=$(in_ns $cp_ns python3 "$LABTOOL" udn "$rd") || { log "rygel: no UDN in $rd"; exit 1; }
      rygel_udns+=("$u")
    done
    wait_indexed $cp_ns $cp_addr "${rygel_descs[0]}" "Files & Folders/upload" "$RYGEL_SEED"
  fi
  wait_http $cp_ns "http://$PEER_ADDR:$FAKESITE_PORT/feeds/api/videos/ready"
  if [ "$PLAYER" = 1 ]; then probe "the crafted player" $cp_ns $cp_addr upnp:rootdevice "uuid:$PLAYER_UUID" > /dev/null; fi
  if [ "$NCRAFTED" -gt 0 ]; then
    # shellcheck disable=SC2046
    probe "$NCRAFTED crafted servers" $cp_ns $cp_addr upnp:rootdevice \
      $(for i in $(seq 1 "$NCRAFTED"); do printf "$CRAFTED_UDN\n" "$i"; done) > /dev/null
  fi

  # the variables for commands run in the lab
  {
    v() { printf '%s=%q\n' "$1" "$2"; }
    v LAB_DIR "$LAB_DIR"
    v LAB_TOPOLOGY "$TOPOLOGY"
    v LAB_NS_PID "$cp_ns"
    v LAB_PEERS_NS_PID "$peer_ns"
    v LAB_IFACE "$cp_if"
    v LAB_ADDR "$cp_addr"
    v LAB_PEER_IFACE "$PEER_IF"
    v LAB_PEER_ADDR "$PEER_ADDR"
    v LAB_LINKS "$links"
    v LAB_HTTP_URL "http://$PEER_ADDR:$HTTP_PORT/"
    v LAB_WWW "$www"
    v LAB_MEDIA "$media"
    v LAB_FAKESITE_URL "http://$PEER_ADDR:$FAKESITE_PORT/"
    v LAB_FAKESITE_HOST "$PEER_ADDR:$FAKESITE_PORT"
    v LAB_SERVER_DESC "$server_desc"
    v LAB_SERVER_UDN "uuid:$SERVER_UUID"
    v LAB_SERVER_NAME "$SERVER_NAME"
    v LAB_AUDIO_COUNT "$NAUDIO"
    v LAB_BULK_COUNT "$NBULK"
    v LAB_BULK_PATH "Browse Folders/bulk"
    if [ -n "$big_url" ]; then
      v LAB_BIG_URL "$big_url"
      v LAB_BIG_FILE "$media/big/big.wav"
      v LAB_BIG_SIZE "$(stat -c %s "$media/big/big.wav")"
    fi
    v LAB_RYGEL "$RYGEL"
    if [ "$RYGEL" = 1 ]; then
      v LAB_RYGEL_SERVER_DESC "${rygel_descs[0]}"
      v LAB_RYGEL_SERVER_UDN "${rygel_udns[0]}"
      v LAB_RYGEL_SERVER_NAME "$RYGEL_SERVER_NAME"
      v LAB_RYGEL_RENDERER_DESC "${rygel_descs[1]}"
      v LAB_RYGEL_RENDERER_UDN "${rygel_udns[1]}"
      v LAB_RYGEL_RENDERER_NAME "$RYGEL_RENDERER_NAME"
      v LAB_RYGEL_UPLOAD "$data/rygel/upload"
      v LAB_RYGEL_SEED "$RYGEL_SEED"
    fi
    v LAB_PLAYER_DESC "http://$PEER_ADDR:$PLAYER_PORT/r/desc.xml"
    v LAB_PLAYER_URL "http://$PEER_ADDR:$PLAYER_PORT/"
    v LAB_PLAYER_UDN "uuid:$PLAYER_UUID"
    v LAB_PLAYER_NAME "LMM Player Lab"
    v LAB_FLAPPER_DESC "http://$PEER_ADDR:$FLAPPER_PORT/r/desc.xml"
    v LAB_FLAPPER_UDN "uuid:$FLAPPER_UUID"
    v LAB_FLAPPER_NAME "Lab Flapper"
    v LAB_CRAFTED_SERVERS "$NCRAFTED"
    v LAB_CRAFTED_SERVER_UDN "$CRAFTED_UDN"
    v LAB_PLAYLIST_SERVER "$PLAYLIST_SERVER"
    v LAB_PLAYLIST_SERVER_DESC "http://$PEER_ADDR:$PLAYLIST_PORT/desc.xml"
    v LAB_PLAYLIST_SERVER_UDN "$PLAYLIST_UDN"
    v LAB_PLAYLIST_SERVER_NAME "Lab Playlist Server"
    v LAB_PLAYLIST_SERVER_URL "http://$PEER_ADDR:$PLAYLIST_PORT"
    v LAB_PLAYLIST_BODIES "$data/playlists"
    v LAB_RENDERERS "$NREND"
    v LAB_RENDERER_DESCS "${rdescs[*]}"
    v LAB_RENDERER_DESC "${rdescs[0]}"
    v LAB_RENDERER_UDN "uuid:$(renderer_uuid 1)"
    v LAB_RENDERER_NAME "Lab Renderer 1"
    for i in $(seq 1 "$NREND"); do
      v "LAB_RENDERER${i}_DESC" "${rdescs[$((i - 1))]}"
      v "LAB_RENDERER${i}_UDN" "uuid:$(renderer_uuid "$i")"
      v "LAB_RENDERER${i}_NAME" "Lab Renderer $i"
    done
  } > "$LAB_DIR/lab.env.tmp"
  mv "$LAB_DIR/lab.env.tmp" "$LAB_DIR/lab.env"
  log "lab up in $(elapsed)s"
  echo "$(elapsed)" > "$LAB_DIR/ready"

  # keep up: until signalled (hold) or for LAB_LIFETIME seconds (up)
  local until=$(( $(date +%s) + LIFETIME ))
  while [ "$hold" = 1 ] || [ "$(date +%s)" -lt "$until" ]; do
    sleep 5 & SLEEPER=$!
    wait $SLEEPER || true
  done
  log "lifetime of ${LIFETIME}s reached; taking the lab down"
}

# start_in NAME NSPID CMD...: start CMD in that namespace, in its own process group
start_in() {
  local name=$1 ns=$2; shift 2
  mkdir -p "$LAB_DIR/cmd"
  printf '%q ' "$@" > "$LAB_DIR/cmd/$name"     # for 'lab.sh start NAME'
  setsid nsenter -t "$ns" -n -- "$@" < /dev/null >> "$LAB_DIR/logs/$name.log" 2>&1 &
  record $! "$name"
}

# start_rygel DIR MEDIA NSPID: rygel headless in that namespace (a home of its own under DIR, no
# session bus, no display), sharing only its upload folder, seeded with copies of a few of the
# lab's files; never the media server's folders, which that server watches and would index an
# upload into
start_rygel() {
  local r=$1 media=$2 ns=$3 d
  [ -n "$r" ] && [ -n "$ns" ] || die "start_rygel: no folder or namespace"
  for d in home config cache data run upload; do mkdir -p "$r/$d"; done
  chmod 700 "$r/run"
  cp "$media/music/tone-3s.wav" "$media/pictures/photo1.jpg" "$media/video/clip.avi" "$r/upload/"
  {
    echo "[general]"
    echo "ipv6=false"
    echo "enable-transcoding=false"
    echo "media-engine=librygel-media-engine-gst.so"
    echo "interface=$PEER_IF"
    echo "port=$RYGEL_PORT"
    echo "log-level=*:3"
    echo "allow-upload=true"
    echo "allow-deletion=true"
    echo "acl-fallback-policy=true"
    echo "video-upload-folder=$r/upload"
    echo "music-upload-folder=$r/upload"
    echo "picture-upload-folder=$r/upload"
    echo "[MediaExport]"
    echo "enabled=true"
    echo "title=$RYGEL_SERVER_NAME"
    echo "uris=$r/upload"
    echo "extract-metadata=true"
    echo "monitor-changes=true"
    echo "monitor-grace-timeout=1"
    echo "virtual-folders=true"
    echo "[Playbin]"
    echo "enabled=true"
    echo "title=$RYGEL_RENDERER_NAME"
    for d in Tracker Tracker3 LMS MPRIS External Ruih GstLaunch; do printf '[%s]\nenabled=false\n' "$d"; done
  } > "$r/config/rygel.conf"
  # it reads the user file in XDG_CONFIG_HOME (its --config option was not used in trials)
  start_in rygel "$ns" env -u DBUS_SESSION_BUS_ADDRESS -u DISPLAY HOME="$r/home" XDG_CONFIG_HOME="$r/config" \
    XDG_CACHE_HOME="$r/cache" XDG_DATA_HOME="$r/data" XDG_RUNTIME_DIR="$r/run" rygel
}

# crafted_peers NSPID: the crafted peers of tests/lab/crafted_peer.py. Each is known by name in
# every lab ('lab.sh start player'); those switched on (LAB_PLAYER, LAB_FLAPPER,
# LAB_CRAFTED_SERVERS) start now.
crafted_peers() {
  local ns=$1 py="$HERE/crafted_peer.py" n=$NCRAFTED
  [ "$n" -gt 0 ] || n=30
  register_peer player python3 "$py" player --bind "$PEER_ADDR" --port $PLAYER_PORT --udn "uuid:$PLAYER_UUID" \
    --name "LMM Player Lab"
  register_peer flapper python3 "$py" flapper --bind "$PEER_ADDR" --port $FLAPPER_PORT --udn "uuid:$FLAPPER_UUID" \
    --name "Lab Flapper" --up "$FLAP_UP" --down "$FLAP_DOWN"
  register_peer servers python3 "$py" servers --bind "$PEER_ADDR" --port $CRAFTED_PORT --count "$n"
  if [ "$PLAYER" = 1 ]; then start_registered player "$ns"; fi
  if [ "$FLAPPER" = 1 ]; then start_registered flapper "$ns"; fi
  if [ "$NCRAFTED" -gt 0 ]; then start_registered servers "$ns"; fi
}
# register_peer NAME CMD...: NAME's command, for 'lab.sh start NAME', without starting it
register_peer() {
  local name=$1; shift
  mkdir -p "$LAB_DIR/cmd"
  printf '%q ' "$@" > "$LAB_DIR/cmd/$name"
}
start_registered() {
  local -a cmd; eval "cmd=($(cat "$LAB_DIR/cmd/$1"))"
  start_in "$1" "$2" "${cmd[@]}"
}

# probe WHAT NSPID ADDR ST UUID...: M-SEARCH from that namespace until each UUID answered;
# prints their description URLs
probe() {
  local what=$1 ns=$2 addr=$3 st=$4; shift 4
  local t out
  t=$(date +%s.%N)
  if ! out=$(LAB_ADDR=$addr in_ns "$ns" python3 "$LABTOOL" msearch "$st" "$TMO" "$@"); then
    log "$what: no M-SEARCH answer within ${TMO}s"; exit 1
  fi
  log "$what answer M-SEARCH after $(awk -v a="$(date +%s.%N)" -v b="$t" 'BEGIN { printf "%.2f", a - b }')s"
  echo "$out"
}

# wait_indexed NSPID ADDR DESC PATH N: wait until the container at PATH has N children
wait_indexed() {
  local n
  if n=$(in_ns "$1" python3 "$LABTOOL" waitcount "$3" "$4" "$5" "$ITMO"); then
    log "media server indexed: '$4' has $n items"
  else
    log "media server: '$4' has $n of $5 items after ${ITMO}s"; exit 1
  fi
}

wait_http() {
  local end=$(( $(date +%s) + TMO ))
  while [ "$(date +%s)" -lt "$end" ]; do
    in_ns "$1" curl -sf -o /dev/null -m 2 "$2" && { log "HTTP file server answers"; return 0; }
    sleep 0.2
  done
  log "HTTP file server: no answer at $2 within ${TMO}s"; exit 1
}

# remove_data: the media, web root and server database of this lab (kept with LAB_KEEP=1)
remove_data() {
  local d
  [ -f "$LAB_DIR/data" ] && d=$(cat "$LAB_DIR/data") || return 0
  if [ "${LAB_KEEP:-}" = 1 ]; then log "kept $d"; return 0; fi
  [ -f "$d/minidlna/minidlna.log" ] && cp "$d/minidlna/minidlna.log" "$LAB_DIR/logs/minidlna-own.log"
  case "$d" in /dev/shm/lumet-lab.*|"$LAB_DIR/data.d") rm -rf "$d" ;; esac
  rm -f "$LAB_DIR/data"
}

teardown() {
  local rc=$?
  set +e
  trap - EXIT INT TERM HUP
  rm -f "$LAB_DIR/ready" "$LAB_DIR/lab.env"
  [ -n "${SLEEPER:-}" ] && kill "$SLEEPER" 2> /dev/null
  # (what was running is kept in logs/*.last, for inspection and for the lab's own tests)
  local pid st name
  cp "$LAB_DIR/pids" "$LAB_DIR/logs/pids.last"
  # the peers end first, with their link still up; then the links go before anything else is
  # ended: whatever entered a namespace by hand and outlives the teardown is left with nothing
  # but loopback
  stop_peers
  : > "$LAB_DIR/logs/netns.last"
  while read -r pid st name; do
    case "$name" in
      netns-*) is_ours "$pid" "$st" || continue
               readlink "/proc/$pid/ns/net" >> "$LAB_DIR/logs/netns.last"
               in_ns "$pid" ip link del $PEER_IF 2> /dev/null ;;
    esac
  done < "$LAB_DIR/pids"
  kill_recorded
  remove_data
  rm -f "$LAB_DIR/pids"
  log "lab down (supervisor exit $rc)"
  rm -f "$LAB_DIR/supervisor"
  exit "$rc"
}

# ------------------------------------------------------------------ commands
cmd_down() {
  need_root
  local sup st
  if sup=$(supervisor_alive); then
    read -r _ st < "$LAB_DIR/supervisor" || true
    # the supervisor leads its own process group, with its short-lived helpers (media
    # generators, probes): TERM them all, so that its teardown starts at once
    kill -TERM -- "-$sup" 2> /dev/null || kill -TERM "$sup" 2> /dev/null || true
    local i; for i in $(seq 150); do is_ours "$sup" "$st" || break; sleep 0.1; done
    if is_ours "$sup" "$st"; then kill -KILL "$sup" 2> /dev/null || true; fi
  fi
  # whatever a supervisor that died without its teardown (SIGKILL) left behind
  kill_recorded
  remove_data
  rm -f "$LAB_DIR/ready" "$LAB_DIR/lab.env" "$LAB_DIR/pids" "$LAB_DIR/supervisor"
  return 0
}

# cmd_up [hold]: start the supervisor and wait until the lab is ready
cmd_up() {
  need_root
  local hold=${1:-0}
  mkdir -p "$LAB_DIR"
  if supervisor_alive > /dev/null || [ -s "$LAB_DIR/pids" ]; then
    log "a lab is already up (or was left behind) in $LAB_DIR: taking it down first"
    cmd_down
  fi
  rm -f "$LAB_DIR/ready" "$LAB_DIR/lab.env" "$LAB_DIR/supervisor"
  : > "$LAB_DIR/lab.log"
  # setsid forks when the caller leads its process group, so $! is not always the supervisor:
  # the supervisor writes its own PID
  LAB_T0=$T0 setsid bash "$SELF" __supervise "$hold" < /dev/null >> "$LAB_DIR/lab.log" 2>&1 &
  local sup="" end=$(( $(date +%s) + 3 * TMO + ITMO + 30 ))
  while [ ! -f "$LAB_DIR/ready" ]; do
    [ -n "$sup" ] || sup=$(supervisor_alive) || sup=""
    if { [ -n "$sup" ] && ! kill -0 "$sup" 2> /dev/null; } || [ "$(date +%s)" -ge "$end" ] ||
       { [ -z "$sup" ] && [ "$(elapsed | cut -d. -f1)" -ge 10 ]; }; then
      echo "lab.sh: the lab did not come up; its log ($LAB_DIR/lab.log):" >&2
      sed 's/^/    /' "$LAB_DIR/lab.log" >&2
      cmd_down
      return 1
    fi
    sleep 0.1
  done
  sed 's/^/    /' "$LAB_DIR/lab.log" >&2
  log "lab is up in $LAB_DIR"
}

enter() {  # enter CMD...: exec CMD in the library's namespace with the lab's variables
  set -a; . "$LAB_DIR/lab.env"; set +a
  # shellcheck disable=SC2086
  check_links "$LAB_NS_PID" $LAB_LINKS
  exec nsenter -t "$LAB_NS_PID" -n -- "$@"
}

lab_ready() { supervisor_alive > /dev/null && [ -f "$LAB_DIR/ready" ] && [ -f "$LAB_DIR/lab.env" ]; }

cmd_run() {
  need_root
  [ $# -gt 0 ] || die "usage: lab.sh run CMD [ARG...]"
  if lab_ready; then enter "$@"; fi
  # no lab up here: one just for this command
  cmd_up || exit 1
  trap 'cmd_down' EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM HUP
  local rc=0
  ( enter "$@" ) || rc=$?
  exit $rc
}

# peer_pid NAME: PID of the running peer NAME (latest record), or fail
peer_pid() {
  local pid st name found=""
  while read -r pid st name; do
    [ "$name" = "$1" ] && is_ours "$pid" "$st" && found=$pid
  done < "$LAB_DIR/pids"
  [ -n "$found" ] && echo "$found"
}

# peer_udn NAME: the UDN a peer answers M-SEARCH with (none for the file server)
peer_udn() {
  case "$1" in
    minidlna) echo "uuid:$SERVER_UUID" ;;
    renderer[0-9]*) echo "uuid:$(renderer_uuid "${1#renderer}")" ;;
    rygel) echo ":$RYGEL_PORT/" ;;   # both of its devices answer at its port
    player) echo "uuid:$PLAYER_UUID" ;;
    flapper) echo "uuid:$FLAPPER_UUID" ;;
    servers) printf "$CRAFTED_UDN\n" 1 ;;
    playlistserver) echo "$PLAYLIST_UDN" ;;
    *) return 1 ;;
  esac
}

cmd_stop() {
  need_root
  lab_ready || die "no lab is up in $LAB_DIR"
  local name=${1:?usage: lab.sh stop NAME}
  local pid; pid=$(peer_pid "$name") || die "$name is not running"
  kill -TERM -- "-$pid" 2> /dev/null || true
  local i; for i in $(seq 100); do kill -0 -- "-$pid" 2> /dev/null || return 0; sleep 0.1; done
  kill -KILL -- "-$pid" 2> /dev/null || true
}

# cmd_start NAME: start a stopped peer again, as the lab first started it, and wait (bounded)
# until it answers M-SEARCH from the library's side; prints its description URL
cmd_start() {
  need_root
  lab_ready || die "no lab is up in $LAB_DIR"
  local name=${1:?usage: lab.sh start NAME}
  [ -f "$LAB_DIR/cmd/$name" ] || die "no peer '$name' in this lab"
  ! peer_pid "$name" > /dev/null || die "$name is already running"
  local -a cmd; eval "cmd=($(cat "$LAB_DIR/cmd/$name"))"
  set -a; . "$LAB_DIR/lab.env"; set +a
  start_in "$name" "$LAB_PEERS_NS_PID" "${cmd[@]}"
  local udn
  if udn=$(peer_udn "$name"); then
    LAB_ADDR=$LAB_ADDR in_ns "$LAB_NS_PID" python3 "$LABTOOL" msearch upnp:rootdevice "$TMO" "$udn" ||
      die "$name does not answer M-SEARCH within ${TMO}s"
  elif [ "$name" = fakesite ]; then
    wait_http "$LAB_NS_PID" "${LAB_FAKESITE_URL}feeds/api/videos/ready"
  else
    wait_http "$LAB_NS_PID" "$LAB_HTTP_URL"
  fi
}

cmd_hold() {
  need_root
  # A signal while the lab comes up is kept until it is up (or failed), then
  # ends it: the ready file appears before cmd_up returns, and a SIGTERM
  # between the two must not kill this process with the lab left running.
  local stop=0
  trap 'stop=1' INT TERM HUP
  cmd_up 1 || exit 1
  trap 'cmd_down; exit 0' INT TERM HUP
  if [ "$stop" = 1 ]; then cmd_down; exit 0; fi
  log "holding; enter with: $SELF shell   (LAB_DIR=$LAB_DIR; Ctrl-C or SIGTERM ends the lab)"
  sed 's/^/    /' "$LAB_DIR/lab.env" >&2
  while lab_ready; do sleep 1 & wait $! || true; done
  log "the lab ended"; cmd_down; exit 1
}

case "${1:-}" in
  up) cmd_up ;;
  down) cmd_down ;;
  run) shift; cmd_run "$@" ;;
  hold) cmd_hold ;;
  shell) need_root; lab_ready || die "no lab is up in $LAB_DIR (start one with: lab.sh up or hold)"
         enter "${SHELL:-/bin/bash}" -i ;;
  stop) shift; cmd_stop "$@" ;;
  start) shift; cmd_start "$@" ;;
  status) if lab_ready; then echo "lab up in $LAB_DIR"; cat "$LAB_DIR/lab.env"; else echo "no lab up in $LAB_DIR"; exit 1; fi ;;
  __supervise) T0=${LAB_T0:-$T0}; need_root; supervise "${2:-0}" ;;
  *) sed -n '2,/^set -euo/p' "$SELF" | sed '$d; s/^# \{0,1\}//' >&2; exit 2 ;;
esac
