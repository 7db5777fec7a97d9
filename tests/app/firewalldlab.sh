#!/bin/sh
# A firewalld of its own for tst_firewalld, run inside `unshare -m -n`: tmpfs on /run and
# /var/log, a system bus listening at LAB/bus with polkitd and firewalld on it, and a veth
# pair (fwl0, fwl1) in this network namespace. Says "ready" once firewalld answers; ends what
# it started when its input ends.
#
#   firewalldlab.sh LAB
set -eu
lab=$1
mount --make-rprivate /
mount -t tmpfs -o mode=0755 tmpfs /run
mount -t tmpfs -o mode=0755 tmpfs /var/log
DBUS_SYSTEM_BUS_ADDRESS=unix:path=$lab/bus
export DBUS_SYSTEM_BUS_ADDRESS
dbus-daemon --system --nofork --nopidfile --address="$DBUS_SYSTEM_BUS_ADDRESS" >"$lab/dbus.log" 2>&1 &
pids=$!
# Ended early (a firewalld that never answers): what was started goes too.
trap 'kill $pids 2>/dev/null' EXIT
trap 'exit 1' TERM INT HUP
i=0
while [ ! -S "$lab/bus" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
/usr/lib/polkit-1/polkitd --no-debug >"$lab/polkitd.log" 2>&1 &
pids="$pids $!"
ip link set lo up
ip link add fwl0 type veth peer name fwl1
ip addr add 10.79.0.2/24 dev fwl0
ip link set fwl0 up
ip link set fwl1 up
firewalld --nofork --nopid >"$lab/firewalld.log" 2>&1 &
pids="$pids $!"
i=0
while ! firewall-cmd --state >/dev/null 2>&1 && [ $i -lt 300 ]; do sleep 0.1; i=$((i + 1)); done
echo ready
cat >/dev/null
