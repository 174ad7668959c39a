cd /tmp/velmo && velmo-cli scan --density normal --log /tmp/velmo/scan-normal.txt --json /tmp/velmo/scan-normal.json
