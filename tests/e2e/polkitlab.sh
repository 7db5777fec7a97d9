#!/bin/sh
# A machine of its own for the real polkit, run by tst_polkitlink inside `unshare -m` with
# /etc already an overlay (LAB/etc on top) holding two test users and a polkit rule: a tmpfs
# on /run, a system bus and polkitd; two network namespaces joined by a veth pair, no route out.
#
#   polkitlab.sh LAB
#
# LAB/etc is the overlay's upper layer, with the hosts file already in it. Then it takes
# commands on its input, one per line, and answers on its output:
#   gui USER NS DISPLAY PROGRAM ENVFILE -> "pid N": PROGRAM as USER in NS (environment from ENVFILE)
#   peer NS ADDRESS HELPER OUTFILE     -> "pid N": the CLIENT side, as root, in NS
#   run NS PROGRAM ARG ARGS...         -> "done N": PROGRAM as root in NS to its end, its exit status
#   check USER ACTION                  -> "exit N": pkcheck's answer for a process of USER
# It ends when its input ends, and ends what it started; the namespaces and the mounts go
# with it.
set -eu
lab=$1
mount --make-rprivate /
mount -t tmpfs -o mode=0755 tmpfs /run
mkdir -p /run/dbus
pids=""
dbus-daemon --system --nofork --nopidfile >"$lab/dbus.log" 2>&1 &
pids="$pids $!"
i=0
while [ ! -S /run/dbus/system_bus_socket ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
/usr/lib/polkit-1/polkitd --no-debug >"$lab/polkitd.log" 2>&1 &
pids="$pids $!"
i=0
while ! pkaction >/dev/null 2>&1 && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
if ! pkaction >/dev/null 2>&1; then
    echo "polkit did not answer (pkaction); see $lab/polkitd.log" >&2
    kill $pids 2>/dev/null || true
    exit 1
fi

ip netns add plA
ip netns add plB
ip link add plAv type veth peer name plBv
ip link set plAv netns plA
ip link set plBv netns plB
ip -n plA addr add 10.78.0.1/24 dev plAv
ip -n plB addr add 10.78.0.2/24 dev plBv
for n in plA plB; do ip -n $n link set lo up; ip -n $n link set ${n}v up; done
echo ready

while read -r what a b c d e; do
    case $what in
    gui)
        # The user's own process from the start: never root. pkexec wants a SHELL listed in
        # /etc/shells and a parent other than PID 1.
        uid=$(id -u "$a")
        gid=$(id -g "$a")
        ip netns exec "$b" setpriv --reuid="$uid" --regid="$gid" --init-groups \
            env -i SHELL=/bin/sh DISPLAY="$c" $(cat "$e") "$d" >"$e.out" 2>&1 &
        pids="$pids $!"
        echo "pid $!"
        ;;
    peer)
        ip netns exec "$a" env QT_QPA_PLATFORM=offscreen "$c" client "$b" 90000 >"$d" 2>&1 &
        pids="$pids $!"
        echo "pid $!"
        ;;
    run)
        status=0
        # shellcheck disable=SC2086 # the last field holds the rest of the arguments
        ip netns exec "$a" "$b" "$c" "$d" $e >/dev/null 2>&1 || status=$?
        echo "done $status"
        ;;
    check)
        # 0 authorised, 1 not authorised, 2 authentication required.
        code=0
        setpriv --reuid="$(id -u "$a")" --regid="$(id -g "$a")" --init-groups \
            sh -c 'exec pkcheck --action-id "$0" --process $$' "$b" >/dev/null 2>&1 || code=$?
        echo "exit $code"
        ;;
    *) echo "unknown" ;;
    esac
done
# Everything this started ends with it; a guard ends on its own once its input closes.
kill $pids 2>/dev/null || true
wait
