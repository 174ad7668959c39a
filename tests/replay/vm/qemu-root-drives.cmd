velmo-cli --trace=/tmp/velmo/root-drives.trace drives
