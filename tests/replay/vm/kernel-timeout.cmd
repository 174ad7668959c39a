cd /tmp/velmo && velmo-cli --trace=/tmp/velmo/timeout.trace scan --log /tmp/velmo/timeout.txt
