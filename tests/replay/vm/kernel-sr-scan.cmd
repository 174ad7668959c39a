cd /tmp/velmo && velmo-cli scan --log /tmp/velmo/sr-scan.txt
