#!/bin/sh
# Runs velmo-cli inside the test VM against every emulated drive and prints
# output, exit code and command trace of each run with @@ markers, for the
# host to check. Judging is left to the host.
T=/tmp/velmo
mkdir -p $T
chmod 777 $T

# run NAME CMD...: one velmo-cli run; its trace (if any) is $T/NAME.trace.
report() {
  name=$1
  echo "@@RUN $name rc=$(cat $T/$name.rc)"
  sed "s|^|@@OUT $name: |" $T/$name.out
  sed "s|^|@@ERR $name: |" $T/$name.err
  [ -f $T/$name.trace ] && sed "s|^|@@TRACE $name: |" $T/$name.trace
}
run() {
  name=$1
  shift
  echo "@@CMD $name $*"
  "$@" > $T/$name.out 2> $T/$name.err
  echo $? > $T/$name.rc
}
as_user() {
  su -s /bin/sh velmo -c "$*"
}

# What the kernel learnt from each drive's INQUIRY, and where it hangs.
index=0
for sr in $(ls /sys/class/block | grep '^sr' | sort); do
  dev=/sys/class/block/$sr/device
  path=$(readlink -f $dev)
  # Which drive is which comes from where QEMU was told to put it: the
  # controller, and the target (and ATA port) of the SCSI address.
  target=$(basename $path | cut -d: -f3)
  case $path in
    *virtio*) ctrl=virtio; slot=t$target ;;
    */ata*) ctrl=ide; slot=$(echo $path | sed 's|.*/\(ata[0-9]*\)/.*|\1|')t$target ;;
    *) ctrl=lsi; slot=t$target ;;
  esac
  case $ctrl-$slot in
    virtio-t0|lsi-t0|ide-ata1t0) medium=empty ;;
    virtio-t1|ide-ata1t1) medium=cd ;;
    *) medium=dvd ;;
  esac
  sectors=$(cat /sys/class/block/$sr/size)
  sg=$(ls $dev/scsi_generic 2>/dev/null | head -n 1)
  echo "@@DRIVE index=$index sr=$sr sg=$sg tag=$ctrl-$medium slot=$slot sectors=$sectors"
  echo "@@INQUIRY $index [$(cat $dev/vendor)$(cat $dev/model)$(cat $dev/rev)]"
  if [ -n "$sg" ]; then echo "@@PROFILE $index $(/bin/profile_probe /dev/$sg)"; fi
  echo "$index $ctrl-$medium $sr $sg" >> $T/drives
  index=$((index + 1))
done
count=$index

# Root, through /dev/sgN.
run root-drives velmo-cli --trace=$T/root-drives.trace drives
report root-drives
# Each drive's own facts, for the comparison with the disc tools.
run root-drives-long velmo-cli drives --long
report root-drives-long
# identify waits up to 15 s for a disc: the drives go in parallel.
i=0
while [ $i -lt $count ]; do
  run root-identify-$i velmo-cli --trace=$T/root-identify-$i.trace --drive $i identify &
  i=$((i + 1))
done
wait
i=0
while [ $i -lt $count ]; do report root-identify-$i; i=$((i + 1)); done

# The disc tools of other authors on the same drives, root, for the host
# to compare with velmo-cli's runs above (qemu/tool-compare.sh). The LSI
# controller's drives are QEMU's same SCSI drive as on virtio: left out.
. /tool-reads.sh
echo "@@TOOLSTART $(cut -d' ' -f1 /proc/uptime)"
while read -r index tag sr sg; do
  case $tag in lsi-*) continue ;; esac
  echo "@@TOOLDRIVE $tag index=$index"
  read_with_tools $tag /dev/$sr /dev/$sg
done < $T/drives
echo "@@TOOLEND $(cut -d' ' -f1 /proc/uptime)"

# An ordinary user with read-write access to the nodes and no capabilities.
echo "velmo:x:1000:1000::/tmp:/bin/sh" >> /etc/passwd
echo "velmo:x:1000:" >> /etc/group
chown 1000:1000 /dev/sg* /dev/sr*
chmod 660 /dev/sg* /dev/sr*
echo "@@USERCAPS $(as_user 'id -u; grep CapEff /proc/self/status' | tr '\n' ' ')"
run user-sg-drives as_user velmo-cli --trace=$T/user-sg-drives.trace drives
report user-sg-drives
# Without an sg node the host falls back to /dev/srN. (An sg node that is
# there but refuses is reported, not bypassed: that is not this case.)
mkdir -p /tmp/sg-nodes
mv /dev/sg* /tmp/sg-nodes/
run user-sr-drives as_user velmo-cli --trace=$T/user-sr-drives.trace drives
report user-sr-drives
run user-sr-identify as_user velmo-cli --trace=$T/user-sr-identify.trace identify
report user-sr-identify
mv /tmp/sg-nodes/* /dev/
