cd /tmp/velmo && velmo-cli smart
