cd /tmp/velmo && velmo-cli --drive 0 identify
