cd /tmp/velmo && velmo-cli scan --log /tmp/velmo/busy-scan.txt
