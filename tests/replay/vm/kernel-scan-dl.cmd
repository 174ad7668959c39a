cd /tmp/velmo && velmo-cli scan --log /tmp/velmo/scan-dl.txt --json /tmp/velmo/scan-dl.json
