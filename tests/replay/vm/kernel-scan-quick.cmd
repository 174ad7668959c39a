cd /tmp/velmo && velmo-cli scan --density quick --log /tmp/velmo/scan-quick.txt --json /tmp/velmo/scan-quick.json
