cd /tmp/velmo && velmo-cli scan --density full --log /tmp/velmo/scan-full.txt --json /tmp/velmo/scan-full.json
