#!/bin/bash
# The setup's decision when a mirror serves a suite for amd64 and not for
# i386, taken from apt's own answers (recorded here), without a network.
set -u
source "$(dirname "$0")/../../scripts/apt-suite.sh"
passed=0 failed=0
check() {  # check WHAT EXPECTED ACTUAL
  if [ "$2" = "$3" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    printf 'apt-suite: %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3"
  fi
}
# index SUITE ARCH [PRIORITY]: one entry of `apt-cache policy`'s package files.
index() {
  local host=http://deb.debian.org/debian
  case $1 in *-security) host=$host-security ;; esac
  echo " ${3:-500} $host $1/main $2 Packages"
  echo "     release v=12,o=Debian,a=oldstable,n=$1,l=Debian,c=main,b=$2"
  echo "     origin deb.debian.org"
}
files() {  # files SUITE/ARCH[/PRIORITY]...: a whole answer
  echo "Package files:"
  echo " 100 /var/lib/dpkg/status"
  echo "     release a=now"
  local e
  for e in "$@"; do IFS=/ read -r s a p <<<"$e"; index "$s" "$a" "$p"; done
  echo "Pinned packages:"
}
all="bookworm/amd64 bookworm/i386 bookworm-updates/amd64 bookworm-updates/i386"
all+=" bookworm-security/amd64 bookworm-security/i386 bookworm-backports/amd64/-1 bookworm-backports/i386/-1"

# One case a line: the package files, the suites lacking i386, the suite chosen.
while IFS='|' read -r what entries gaps suite; do
  # shellcheck disable=SC2086
  answer=$(files $entries)
  check "$what: suites without i386" "$gaps" "$(apt_i386_gaps <<<"$answer" | tr '\n' ' ' | sed 's/ $//')"
  check "$what: one suite" "$suite" "$(apt_one_suite <<<"$answer")"
done <<EOF
every index served: nothing changes|$all||
the security i386 index missing|${all/bookworm-security\/i386 /}|bookworm-security|bookworm
two i386 indexes missing|bookworm/amd64 bookworm/i386 bookworm-updates/amd64 bookworm-security/amd64|bookworm-security bookworm-updates|bookworm
i386 not added yet (amd64 only)|bookworm/amd64 bookworm-security/amd64|bookworm bookworm-security|
backports pinned off, amd64 only: no gap|${all/bookworm-backports\/i386\/-1/}||
the release's own i386 index missing|${all/bookworm\/i386 /}|bookworm|
EOF

# The versions to name: an amd64 half installed from the suite without i386
# goes back to the release's version; one the release serves stays.
policy=$(cat <<'EOF'
libgstreamer-plugins-base1.0-0:
  Installed: 1.22.0-3+deb12u7
  Candidate: 1.22.0-3+deb12u7
  Version table:
 *** 1.22.0-3+deb12u7 500
        500 http://deb.debian.org/debian-security bookworm-security/main amd64 Packages
        100 /var/lib/dpkg/status
     1.22.0-3+deb12u6 500
        500 http://deb.debian.org/debian bookworm/main amd64 Packages
libc6:
  Installed: 2.36-9+deb12u10
  Candidate: 2.36-9+deb12u10
  Version table:
 *** 2.36-9+deb12u10 500
        500 http://deb.debian.org/debian bookworm/main amd64 Packages
        100 /var/lib/dpkg/status
zlib1g:
  Installed: 1:1.2.13.dfsg-1+deb12u1
  Candidate: 1:1.2.13.dfsg-1+deb12u1
  Version table:
 *** 1:1.2.13.dfsg-1+deb12u1 500
        500 http://deb.debian.org/debian-security bookworm-security/main amd64 Packages
        100 /var/lib/dpkg/status
     1:1.2.13.dfsg-1 500
        500 http://deb.debian.org/debian bookworm/main amd64 Packages
libvulkan1:
  Installed: (none)
  Candidate: 1.3.239.0-1
  Version table:
     1.3.239.0-1 500
        500 http://deb.debian.org/debian bookworm/main amd64 Packages
EOF
)
check "versions named for the release" \
  "libgstreamer-plugins-base1.0-0:amd64=1.22.0-3+deb12u6 zlib1g:amd64=1:1.2.13.dfsg-1" \
  "$(apt_pin_to_suite bookworm <<<"$policy" | tr '\n' ' ' | sed 's/ $//')"
check "nothing named when every installed version is the suite's" "" \
  "$(apt_pin_to_suite bookworm-security <<<"${policy%%libc6:*}")"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
