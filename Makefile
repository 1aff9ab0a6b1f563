# Convenience targets around dev.sh for people who type `make`.
.PHONY: all run test build check-sanitize
all: build
build:
	./dev.sh build
run:
	./dev.sh run
test:
	./dev.sh test
check-sanitize:
	./dev.sh check-sanitize
