# Sourced by the VM checks: the disc tools of other authors read a drive
# and print what they said as "@@TOOL DISC TOOL: " lines and their exit
# codes as "@@TOOLRC DISC TOOL CODE", for qemu/tool-compare.sh on the host.
# A tool that is not in the VM is named once, with its reason.
sed 's/^/@@MISSINGTOOL /' /etc/missing-tools
tool() {  # DISC NAME COMMAND...
  disc=$1 name=$2
  shift 2
  if command -v "$1" > /dev/null; then
    timeout 60 "$@" > /tmp/tool.out 2>&1
    echo "@@TOOLRC $disc $name $?"
    sed "s|^|@@TOOL $disc $name: |" /tmp/tool.out
  fi
}
read_with_tools() {  # DISC SRNODE SGNODE
  tool $1 mediainfo dvd+rw-mediainfo $2
  tool $1 sg_inq sg_inq $3
  tool $1 sg_get_config sg_get_config --current $3
  tool $1 sg_readcap sg_readcap $3
  tool $1 sg_turs sg_turs $3
  tool $1 sg_vpd sg_vpd -p sn $3
  tool $1 sg_modes sg_modes -p 0x2a $3
  tool $1 xorriso xorriso -outdev $2 -toc
}
