cd /tmp/velmo && velmo-cli --drive 1 scan --log /tmp/velmo/scan-refusing.txt
