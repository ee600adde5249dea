#include "sensorbus/sim_ds1621.h"

namespace kelvara {

namespace {

constexpr std::uint8_t START_CONVERT = 0xEE;
constexpr std::uint8_t STOP_CONVERT = 0x22;
constexpr std::uint8_t ACCESS_CONFIG = 0xAC;
constexpr std::uint8_t ACCESS_TH = 0xA1;
constexpr std::uint8_t ACCESS_TL = 0xA2;
constexpr std::uint8_t READ_TEMPERATURE = 0xAA;
constexpr std::uint8_t READ_COUNTER = 0xA8;
constexpr std::uint8_t READ_SLOPE = 0xA9;

constexpr std::uint8_t CONFIG_DONE = 0x80;
constexpr std::uint8_t CONFIG_WRITABLE = 0x03;  // POL and 1SHOT
constexpr int COUNT_PER_C = 16;

std::uint8_t word_byte(std::int16_t word, int index)
{
    auto bits = static_cast<std::uint16_t>(word);
    return static_cast<std::uint8_t>(index == 0 ? bits >> 8 : bits & 0xFF);
}

std::int16_t with_byte(std::int16_t word, int index, std::uint8_t value)
{
    auto bits = static_cast<std::uint16_t>(word);
    bits = index == 0 ? static_cast<std::uint16_t>((bits & 0x00FF) | (value << 8))
                      : static_cast<std::uint16_t>((bits & 0xFF00) | value);
    return static_cast<std::int16_t>(bits);
}

}  // namespace

void SimDS1621::power(bool on)
{
    on = on && present();  // an empty address never answers
    if (on == powered_)
        return;
    powered_ = on;
    state_ = State::idle;
    pull_low_ = on && setup_.kind == SimChipKind::hold;
    temperature_ = 0;
    config_ = 0;
    command_ = 0;
}

void SimDS1621::start()
{
    if (!powered_ || setup_.kind == SimChipKind::hold)
        return;
    state_ = State::address;
    shift_ = 0;
    bits_ = 0;
    pull_low_ = false;
}

void SimDS1621::stop()
{
    if (!powered_ || setup_.kind == SimChipKind::hold)
        return;
    state_ = State::idle;
    pull_low_ = false;
}

void SimDS1621::scl_rise(bool sda)
{
    if (!powered_)
        return;
    switch (state_) {
    case State::address:
    case State::receive:
        if (bits_ < 8) {
            shift_ = static_cast<std::uint8_t>((shift_ << 1) | (sda ? 1 : 0));
            ++bits_;
        }
        break;
    case State::transmit_ack:
        master_acked_ = !sda;
        break;
    default:
        break;
    }
}

void SimDS1621::scl_fall()
{
    if (!powered_)
        return;
    switch (state_) {
    case State::idle:
        break;
    case State::address:
        if (bits_ < 8)
            break;
        if ((shift_ & 0xFE) != address_) {
            state_ = State::idle;  // not ours: wait for the next start
            break;
        }
        reading_ = (shift_ & 1) != 0;
        pull_low_ = true;  // acknowledge the address
        state_ = State::address_ack;
        break;
    case State::address_ack:
        pull_low_ = false;
        byte_index_ = 0;
        if (reading_) {
            tx_ = byte_to_send(0);
            bits_ = 7;
            state_ = State::transmit;
            drive_bit();
        } else {
            shift_ = 0;
            bits_ = 0;
            state_ = State::receive;
        }
        break;
    case State::receive:
        if (bits_ < 8)
            break;
        if (setup_.kind == SimChipKind::nak) {
            state_ = State::idle;
            break;
        }
        take_byte(shift_);
        pull_low_ = true;
        state_ = State::receive_ack;
        break;
    case State::receive_ack:
        pull_low_ = false;
        shift_ = 0;
        bits_ = 0;
        state_ = State::receive;
        break;
    case State::transmit:
        if (--bits_ >= 0) {
            drive_bit();
        } else {
            pull_low_ = false;
            state_ = State::transmit_ack;
        }
        break;
    case State::transmit_ack:
        if (master_acked_) {
            tx_ = byte_to_send(++byte_index_);
            bits_ = 7;
            state_ = State::transmit;
            drive_bit();
        } else {
            state_ = State::idle;  // the master is done reading
        }
        break;
    }
}

void SimDS1621::drive_bit() { pull_low_ = ((tx_ >> bits_) & 1) == 0; }

// The first byte of a write is a command; the bytes after it are its data.
void SimDS1621::take_byte(std::uint8_t value)
{
    int index = byte_index_++;
    if (index == 0) {
        command_ = value;
        if (value == START_CONVERT) {
            temperature_ = setup_.word;
            config_ |= CONFIG_DONE;
        } else if (value == STOP_CONVERT) {
            config_ &= static_cast<std::uint8_t>(~CONFIG_DONE);
        }
        return;
    }
    int data = index - 1;
    switch (command_) {
    case ACCESS_CONFIG:
        if (data == 0)
            config_ = static_cast<std::uint8_t>((config_ & ~CONFIG_WRITABLE) | (value & CONFIG_WRITABLE));
        break;
    case ACCESS_TH:
        if (data < 2)
            th_ = with_byte(th_, data, value);
        break;
    case ACCESS_TL:
        if (data < 2)
            tl_ = with_byte(tl_, data, value);
        break;
    default:
        break;
    }
}

std::uint8_t SimDS1621::byte_to_send(int index) const
{
    if (setup_.kind != SimChipKind::normal)
        return 0xFF;
    switch (command_) {
    case READ_TEMPERATURE:
        return index < 2 ? word_byte(temperature_, index) : 0xFF;
    case ACCESS_TH:
        return index < 2 ? word_byte(th_, index) : 0xFF;
    case ACCESS_TL:
        return index < 2 ? word_byte(tl_, index) : 0xFF;
    case ACCESS_CONFIG:
        return index == 0 ? config_ : 0xFF;
    case READ_COUNTER: {
        // Count remain such that T = whole - 0.25 + (slope - remain) / slope gives the reading.
        int half_degree = (temperature_ & 0x80) != 0 ? COUNT_PER_C / 2 : 0;
        return index == 0 ? static_cast<std::uint8_t>(COUNT_PER_C - half_degree - COUNT_PER_C / 4) : 0xFF;
    }
    case READ_SLOPE:
        return index == 0 ? static_cast<std::uint8_t>(COUNT_PER_C) : 0xFF;
    default:
        return 0xFF;
    }
}

}  // namespace kelvara
