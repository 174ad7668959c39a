#!/bin/sh
# Runs inside the kernel drive test VM: builds two SCSI devices whose
# firmware is velmo-tcmu (the user-space backstore behind the loopback
# fabric), lets sr and sg bind them, and runs velmo-cli against them as an
# ordinary user in the drives' group. Prints @@ markers for the host to
# judge (qemu/kernel-check-log.sh).
T=/tmp/velmo
mkdir -p $T
chmod 777 $T
CORE=/sys/kernel/config/target/core/user_1
LOOP=/sys/kernel/config/target/loopback/naa.5001405a00000001
# The handler holds an unanswered command this long: past the 30 s sample
# time-out, so the kernel's timer is the one that runs out.
HOLD=40000

report() {
  name=$1
  echo "@@RUN $name rc=$(cat $T/$name.rc)"
  sed "s|^|@@OUT $name: |" $T/$name.out
  sed "s|^|@@ERR $name: |" $T/$name.err
}
# Every run also writes a trace with data, printed as "@@REPLAY NAME: "
# lines for the host to save (a run that names its own trace keeps it).
run() {  # NAME as_user COMMAND
  name=$1
  echo "@@CMD $name $3"
  $2 "$(echo "$3" | sed "s|velmo-cli |velmo-cli --trace=$T/$name.replay |")" \
    > $T/$name.out 2> $T/$name.err
  echo $? > $T/$name.rc
  report $name
  last_vendor $name
  for trace in $T/$name.replay $T/$name.trace; do
    [ -f $trace ] && sed "s|^|@@REPLAY $name: |" $trace && break
  done
}
as_user() { su -s /bin/sh velmo -c "$*"; }
cli() { echo "cd $T && velmo-cli $*"; }
# The last vendor command the supported drive's handler saw.
last_vendor() {
  echo "@@LASTFD $1 $(grep '^FD' $T/drive0.cmds 2>/dev/null | tail -n 1 | cut -d' ' -f1-2)"
}
file_out() {  # NAME FILE: a file's lines, for the host to compare
  [ -f "$2" ] && sed "s|^|@@FILE $1: |" "$2"
  echo "@@ENDFILE $1 last=$(tail -c 2 "$2" 2>/dev/null | od -An -tx1 | tr -d ' ')"
}

# --- the backstores and their handlers --------------------------------
mount -t configfs none /sys/kernel/config || echo "@@FATAL configfs"
start_handler() {  # NAME SCENARIO INDEX [LATENCY]
  uio=$(grep -l "/$1/" /sys/class/uio/uio*/name 2>/dev/null | head -n 1)
  uio=$(basename "$(dirname "$uio")")
  /bin/velmo-tcmu --uio=/dev/$uio --scenario=$2 --drive=$3 --sample-latency=${4:-0} \
    --hold=$HOLD --log=$T/$1.cmds 2>> $T/$1.handler &
  echo $! > $T/$1.pid
  echo "@@HANDLER $1 $uio scenario=$2 pid=$!"
}
stop_handler() {
  kill -TERM "$(cat $T/$1.pid)" 2>/dev/null
  wait "$(cat $T/$1.pid)" 2>/dev/null
}
backstore() {  # NAME SCENARIO INDEX
  mkdir -p $CORE/$1 || echo "@@FATAL mkdir $CORE/$1"
  echo -n "dev_config=velmo/$1" > $CORE/$1/control
  echo -n "dev_size=$((4 * 1024 * 1024 * 1024))" > $CORE/$1/control
  # No time limit of the backstore's own: only the SCSI layer's.
  echo 0 > $CORE/$1/attrib/cmd_time_out 2>/dev/null || echo "@@WARN cmd_time_out"
  echo 1 > $CORE/$1/enable || echo "@@FATAL enable $1"
  start_handler "$@"
}
backstore drive0 dvd+r-good 0
backstore drive1 dvd+r-good 1
# The nexus first: a LUN linked before it is scanned into nothing.
mkdir -p $LOOP/tpgt_1
echo naa.5001405a00000002 > $LOOP/tpgt_1/nexus || echo "@@FATAL nexus"
mkdir -p $LOOP/tpgt_1/lun/lun_0 $LOOP/tpgt_1/lun/lun_1
ln -s $CORE/drive0 $LOOP/tpgt_1/lun/lun_0/velmo0
ln -s $CORE/drive1 $LOOP/tpgt_1/lun/lun_1/velmo1
i=0
while [ "$(ls /sys/class/block | grep -c '^sr')" -lt 2 ] && [ $i -lt 200 ]; do
  sleep 0.1
  i=$((i + 1))
done
echo "@@ATTACHED after $((i / 10)).$((i % 10)) s"
for sr in $(ls /sys/class/block | grep '^sr' | sort); do
  dev=/sys/class/block/$sr/device
  echo "@@NODE $sr type=$(cat $dev/type) vendor=[$(cat $dev/vendor)] model=[$(cat $dev/model)] path=$(readlink -f $dev)"
done

# What sr sent on attach (and polling since), by operation code and status.
sleep 2
awk '{s = $0; sub(/.* status=/, "", s); print $1 " status=" s}' $T/drive0.cmds | sort | uniq -c |
  sed 's/^/@@ATTACHCMDS /'

# --- an ordinary user in the drives' group ------------------------------
echo "velmo:x:1000:1000::/tmp:/bin/sh" >> /etc/passwd
echo "velmo:x:1000:" >> /etc/group
echo "cdrom:x:24:velmo" >> /etc/group
give_nodes() { chgrp 24 /dev/sr* /dev/sg* 2>/dev/null; chmod 660 /dev/sr* /dev/sg* 2>/dev/null; }
give_nodes
echo "@@USER $(as_user id)"

# --- /dev/srN only: the sg module is not loaded yet -----------------------
echo "@@SG before=$(ls /dev | grep -c '^sg')"
run sr-drives as_user "$(cli drives)"
run sr-scan as_user "$(cli scan --log $T/sr-scan.txt)"
run doctor-nosg as_user "$(cli doctor)"

insmod /modules/extra/sg.ko || echo "@@FATAL insmod sg"
i=0
while [ "$(ls /dev | grep -c '^sg')" -lt 2 ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
give_nodes
for sg in $(ls /sys/class/scsi_generic); do
  echo "@@SGNODE $sg type=$(cat /sys/class/scsi_generic/$sg/device/type) block=$(ls /sys/class/scsi_generic/$sg/device/block 2>/dev/null)"
done
ls -l /dev/sr* /dev/sg* | sed 's/^/@@LS /'

. /tool-reads.sh
read_discs() {  # every disc the comparison loads, in drive 0
  echo "@@TOOLSTART $(cut -d' ' -f1 /proc/uptime)"
  for disc in dvd-r-good dvd+r-good dvd+rdl-good dvd+rdl-early-break dvd+r-noname dvd+r-one-speed dvd-rom empty; do
    stop_handler drive0
    start_handler drive0 $disc 0
    sg=/dev/$(ls /sys/class/block/sr0/device/scsi_generic)
    read_with_tools $disc /dev/sr0 $sg
    # What the tools sent the drive, for reading a disagreement.
    sed "s|^|@@TOOLCMDS $disc: |" $T/drive0.cmds
    : > $T/drive0.cmds
    run cmp-$disc-drives as_user "$(cli drives --long)"
    run cmp-$disc-identify as_user "$(cli --drive 0 identify)"
  done
  echo "@@TOOLEND $(cut -d' ' -f1 /proc/uptime)"
}
# velmo.only=tools on the kernel's command line (VELMO_VM_ONLY=tools):
# only the comparison with other programs, for working on it.
if grep -q 'velmo.only=tools' /proc/cmdline; then
  read_discs
  exit 0
fi

# --- through /dev/sgN -----------------------------------------------------
run drives as_user "$(cli drives)"
run doctor as_user "$(cli doctor)"
run doctor-json as_user "$(cli doctor --json)"
run identify-0 as_user "$(cli --drive 0 identify)"
run identify-1 as_user "$(cli --drive 1 identify)"
for density in quick normal full; do
  run scan-$density as_user "$(cli scan --density $density --log $T/scan-$density.txt --json $T/scan-$density.json)"
  file_out scan-$density.txt $T/scan-$density.txt
  file_out scan-$density.json $T/scan-$density.json
done
# What the firmware received of Velmo's 12-byte sample CDB.
echo "@@VENDORCDB $(grep '^FD FB' $T/drive0.cmds | head -n 1)"
run smart as_user "$(cli smart)"
run scan-refusing as_user "$(cli --drive 1 scan --log $T/scan-refusing.txt)"

# A dual-layer disc: the supported drive's firmware restarted with it.
stop_handler drive0
start_handler drive0 dvd+rdl-good 0
run scan-dl as_user "$(cli scan --log $T/scan-dl.txt --json $T/scan-dl.json)"
file_out scan-dl.txt $T/scan-dl.txt
file_out scan-dl.json $T/scan-dl.json

# --- the same drive and discs read by other programs ---------------------
# Each disc loaded in turn; velmo-cli and the disc tools of other authors
# read it, and the host compares their answers (qemu/tool-compare.sh).
read_discs

# No disc.
stop_handler drive0
start_handler drive0 empty 0
run doctor-nodisc as_user "$(cli doctor)"

# No group: the sg nodes are root's alone; /dev/srN stays open to us.
chgrp 0 /dev/sg*
run nogroup-drives as_user "$(cli drives)"
run doctor-nogroup as_user "$(cli doctor)"
give_nodes

# Busy: another program of the same user holds the sg node exclusively.
sg0=$(ls /sys/class/block/sr0/device/scsi_generic | head -n 1)
as_user "/bin/hold_node /dev/$sg0" > $T/hold.out &
holdjob=$!
sleep 1
holder=$(pidof hold_node)
echo "@@HOLDER pid=$holder $(cat $T/hold.out)"
run busy-drives as_user "$(cli drives)"
run busy-scan as_user "$(cli scan --log $T/busy-scan.txt)"
run doctor-busy as_user "$(cli doctor)"
kill $holder
wait $holdjob 2>/dev/null

# Without the sr driver the drives keep their sg nodes, and are found there.
rmmod sr_mod || echo "@@WARN rmmod sr_mod"
echo "@@NOSR block=$(ls /sys/class/block | grep -c '^sr') generic=$(ls /sys/class/scsi_generic | wc -l)"
run nosr-drives as_user "$(cli drives)"
insmod /modules/sr_mod.ko || echo "@@FATAL insmod sr_mod"
i=0
while [ "$(ls /sys/class/block | grep -c '^sr')" -lt 2 ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
sleep 0.5
give_nodes

# Ctrl-C and SIGTERM on the real node: samples take 100 ms, the signal
# comes a second after the first sample, however long the drive took to
# get ready (a fixed wait once fell before the run began).
stop_handler drive0
start_handler drive0 dvd+r-good 0 100
for sig in INT TERM; do
  as_user "$(cli scan --log $T/sig-$sig.txt)" > $T/sig-$sig.out 2> $T/sig-$sig.err &
  i=0
  while ! grep -qE ' [0-9]+/[0-9]+ +LBA' $T/sig-$sig.out && [ $i -lt 600 ]; do sleep 0.1; i=$((i + 1)); done
  sleep 1
  pid=$(pidof velmo-cli)
  echo "@@SIGNAL $sig pid=$pid"
  kill -$sig $pid
  wait $! ; echo $? > $T/sig-$sig.rc
  report sig-$sig
  last_vendor sig-$sig
  file_out sig-$sig.txt $T/sig-$sig.txt
done

# One sample the drive never answers: the 10th (the scenario's fault).
stop_handler drive0
start_handler drive0 timeout 0
started=$(cut -d' ' -f1 /proc/uptime)
run timeout as_user "$(cli --trace=$T/timeout.trace scan --log $T/timeout.txt)"
echo "@@TIMEOUT started=$started ended=$(cut -d' ' -f1 /proc/uptime)"
file_out timeout.txt $T/timeout.txt
tail -n 3 $T/timeout.trace | sed 's/^/@@TRACE timeout: /'
dmesg | tail -n 5 | sed 's/^/@@DMESG-TIMEOUT /'
# The same hang seen by a bare SG_IO, fields as the kernel returned them.
stop_handler drive0
start_handler drive0 timeout 0
/bin/sgio_probe /dev/$(ls /sys/class/block/sr0/device/scsi_generic) 10 | sed 's/^/@@SGIO /'
dmesg | tail -n 5 | sed 's/^/@@DMESG-SGIO /'

# The LUN removed mid-scan.
stop_handler drive0
start_handler drive0 dvd+r-good 0 100
as_user "$(cli scan --log $T/gone.txt)" > $T/gone.out 2> $T/gone.err &
scan=$!
sleep 3
rm $LOOP/tpgt_1/lun/lun_0/velmo0
rmdir $LOOP/tpgt_1/lun/lun_0
echo "@@REMOVED lun_0"
wait $scan; echo $? > $T/gone.rc
report gone
last_vendor gone
file_out gone.txt $T/gone.txt

dmesg | grep -i -E 'scsi|sr[0-9]|sg|tcm|target|uio|loopback|cdrom' | sed 's/^/@@DMESG /'
for n in drive0 drive1; do sed "s|^|@@HLOG $n: |" $T/$n.handler; done
tail -n 30 $T/drive0.cmds | sed 's/^/@@CMDS drive0: /'
