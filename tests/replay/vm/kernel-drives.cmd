cd /tmp/velmo && velmo-cli drives
