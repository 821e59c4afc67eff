#!/usr/bin/env bash
# Whole-process times of a SIDE x SIDE tile download (default 32 x 32) over
# HTTPS with 50 ms of round-trip time, in the same run:
#   1. the main source's client: a new connection (TCP + TLS) per tile;
#   2. a list source with one kept connection;
#   3. a list source with two (two workers, maxConnections 2);
#   4. curl --parallel --parallel-max 2 (--http2 when curl has it) fetching
#      the same URLs into files.
#
# Needs: root (a private network and mount namespace: `unshare -nm`, `tc
# qdisc ... netem` on its loopback, and our test CA bound over the system's
# CA bundle inside that namespace only), iproute2, python3 (the HTTPS test
# server: HTTP/1.1 with keep-alive, no HTTP/2), openssl, curl, and the built
# vistrel-cli and vistrel-tileserver (cmake --build build --target
# vistrel-cli vistrel-tileserver). Nothing leaves the namespace's loopback.
#
#     sudo bench/sources_https.sh            # BUILD=build SIDE=32 RTT_MS=50
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD:-$ROOT/build}
SIDE=${SIDE:-32}
RTT_MS=${RTT_MS:-50}

if [ "$(id -u)" != 0 ]; then
    echo "sources_https.sh: needs root for unshare -nm, tc and a bind mount" >&2
    exit 1
fi
if [ -z "${VISTREL_IN_NETNS:-}" ]; then
    exec unshare -nm env VISTREL_IN_NETNS=1 BUILD="$BUILD" SIDE="$SIDE" RTT_MS="$RTT_MS" "$0" "$@"
fi
for tool in tc python3 openssl curl; do
    command -v "$tool" >/dev/null || { echo "sources_https.sh: $tool is missing" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; umount /etc/ssl/certs/ca-certificates.crt 2>/dev/null || true; rm -rf "$work"' EXIT
# shellcheck source=bench/measure.sh
. "$ROOT/bench/measure.sh"
ip link set lo up

# A certificate for 127.0.0.1, trusted inside this namespace only.
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
    -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 2>/dev/null
mount --bind "$work/cert.pem" /etc/ssl/certs/ca-certificates.crt

# A settings file of start values whose source is the HTTPS server.
settings() {
    local folder=$1 source=$2
    mkdir -p "$folder"
    {
        printf '%s\r\n' "$source"
        printf '%s\r\n' - - ci - - '' '' '' '' 38 0 1 - -1 700 1250 7 0 3 3 3 25 '' - 1 0 0 1 e \
            -4 0 100 100 - - 2 0 0 100 100 - - V 3 0 1 100 200 - - V 3 700 1250 0 0 12 g - - l - O S
    } >"$folder/Vistrel2.ini"
}

# The region: SIDE x SIDE tiles at zoom 14, corners inside the corner tiles.
read -r FROM TO < <(python3 - "$SIDE" <<'EOF'
import math, sys
side, z = int(sys.argv[1]), 14
n = 2 ** z
c0, r0 = 9000, 5000
lon = lambda c: c / n * 360 - 180
lat = lambda r: math.degrees(math.atan(math.sinh(math.pi * (1 - 2 * r / n))))
print(f"{lat(r0 + .5):.6f},{lon(c0 + .5):.6f} {lat(r0 + side - .5):.6f},{lon(c0 + side - .5):.6f}")
EOF
)
region=(--zoom 14 --from "$FROM" --to "$TO" --mode internet)

# The tiles, fetched once from the local tile server before the delay is on.
"$BUILD/vistrel-tileserver" --port 8642 >/dev/null &
for _ in $(seq 50); do (exec 3<>/dev/tcp/127.0.0.1/8642) 2>/dev/null && break; sleep 0.1; done
settings "$work/seed" "http://127.0.0.1:8642/kh?v=9&n=404&t=t"
"$BUILD/vistrel-cli" download "${region[@]}" --connections 8 --folder "$work/seed" >/dev/null
tiles=$(ls "$work/seed/Cache" | grep -cE "^[qrst]{14}\.jpg$")

# The HTTPS server: HTTP/1.1, keep-alive, the seed tiles by their letters.
cat >"$work/server.py" <<'EOF'
import http.server, ssl, sys
folder, log = sys.argv[1], open(sys.argv[2], "a", buffering=1)
class Tiles(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    def do_GET(self):
        letters = self.path[self.path.rfind("t=t") + 3:]
        try:
            body = open(f"{folder}/{letters}.jpg", "rb").read()
            self.send_response(200)
            self.send_header("Content-Type", "image/jpeg")
        except OSError:
            body = b"not found\n"
            self.send_response(404)
            self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
        log.write(self.path + "\n")
    def log_message(self, *args):
        pass
server = http.server.ThreadingHTTPServer(("127.0.0.1", 8443), Tiles)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(sys.argv[3], sys.argv[4])
server.socket = context.wrap_socket(server.socket, server_side=True)
server.serve_forever()
EOF
python3 "$work/server.py" "$work/seed/Cache" "$work/requests.log" "$work/cert.pem" "$work/key.pem" &
for _ in $(seq 50); do (exec 3<>/dev/tcp/127.0.0.1/8443) 2>/dev/null && break; sleep 0.1; done

port=8443
if tc qdisc add dev lo root netem delay "$((RTT_MS / 2))ms" 2>/dev/null; then
    how="tc netem on the namespace's loopback"
else
    # A kernel without netem (containers, some virtual machines): a relay
    # holds every piece half the round trip each way, and a new connection
    # one round trip more, as a TCP handshake over that distance would.
    cat >"$work/delay.py" <<'PY'
import asyncio, sys
half = int(sys.argv[1]) / 2000
async def pipe(reader, writer, start):
    queue = asyncio.Queue()
    async def read():
        while data := await reader.read(65536):
            await queue.put((asyncio.get_running_loop().time(), data))
        await queue.put((None, b""))
    async def write():
        while True:
            at, data = await queue.get()
            if at is None:
                break
            wait = max(at + half, start) - asyncio.get_running_loop().time()
            if wait > 0:
                await asyncio.sleep(wait)
            writer.write(data)
            await writer.drain()
        writer.close()
    await asyncio.gather(read(), write())
async def relay(client_reader, client_writer):
    start = asyncio.get_running_loop().time() + 2 * half
    server_reader, server_writer = await asyncio.open_connection("127.0.0.1", 8443)
    await asyncio.gather(pipe(client_reader, server_writer, start + half),
                         pipe(server_reader, client_writer, 0), return_exceptions=True)
async def main():
    server = await asyncio.start_server(relay, "127.0.0.1", 8444)
    await server.serve_forever()
asyncio.run(main())
PY
    python3 "$work/delay.py" "$RTT_MS" &
    for _ in $(seq 50); do (exec 3<>/dev/tcp/127.0.0.1/8444) 2>/dev/null && break; sleep 0.1; done
    port=8444
    how="a delaying relay (this kernel has no netem)"
fi
echo "$tiles tiles of $FROM .. $TO, zoom 14, HTTPS, ${RTT_MS} ms round trip by $how"
echo "client                              wall-s  cpu-s  peak-MB"

https="https://127.0.0.1:$port/kh?v=9&n=404&t=t"
settings "$work/main" "$https"
printf '%-35s %s\n' "main source (new connection/tile)" \
    "$(measure "$BUILD/vistrel-cli" download "${region[@]}" --folder "$work/main")"
stored=$(ls "$work/main/Cache" | grep -cE "^[qrst]{14}\.jpg$")
[ "$stored" = "$tiles" ] || echo "  (only $stored of $tiles tiles stored)"

for connections in 1 2; do
    folder=$work/list$connections
    settings "$folder" "$https"
    printf '{"sources": [{"name": "Список", "url": "%s", "cache": "List", "maxConnections": %d}]}\n' \
        "https://127.0.0.1:$port/kh?v=9&n=405&t=t" "$connections" >"$folder/Sources.json"
    printf '%-35s %s\n' "list source, $connections connection(s)" \
        "$(measure "$BUILD/vistrel-cli" download "${region[@]}" --folder "$folder" \
            --source "Список" --connections "$connections")"
    stored=$(ls "$folder/List" | grep -cE "^[qrst]{14}\.jpg$")
    [ "$stored" = "$tiles" ] || echo "  (only $stored of $tiles tiles stored)"
done

# The same URLs as the main source asked for, into files.
mkdir -p "$work/curl"
grep 'n=404' "$work/requests.log" | sort -u | awk -v d="$work/curl" -v port="$port" \
    '{ printf "url = \"https://127.0.0.1:" port "%s\"\noutput = \"%s/%d.jpg\"\n", $0, d, NR }' >"$work/curl.cfg"
http2=()
curl -V | grep -q HTTP2 && http2=(--http2)
printf '%-35s %s\n' "curl --parallel-max 2 ${http2[*]}" \
    "$(measure curl -s --parallel --parallel-max 2 "${http2[@]}" -K "$work/curl.cfg")"
echo "(the test server speaks HTTP/1.1 only: no client here used HTTP/2)"
