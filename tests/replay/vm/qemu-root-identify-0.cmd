velmo-cli --trace=/tmp/velmo/root-identify-0.trace --drive 0 identify
