"""Devices that announce themselves only by multicast DNS, for the lab."""
