#pragma once
// One simulated DS1621 on a simulated I2C bus, seen at the level of the bus
// lines: it is told of start and stop conditions and of SCL edges, and says
// whether it pulls SDA low. A conversion completes at once.

#include <cstdint>

namespace kelvara {

enum class SimChipKind : std::uint8_t {
    absent,  // nothing at this address
    normal,
    nak,     // acknowledges its address but no data byte
    hold,    // holds SDA low while powered
};

struct SimChipSetup {
    SimChipKind kind = SimChipKind::absent;
    std::int16_t word = 0;  // the temperature it measures, in 1/256 degree C
};

class SimDS1621 {
public:
    SimDS1621() = default;
    SimDS1621(int address, SimChipSetup setup) : address_(address & 0xFE), setup_(setup) {}

    // Power comes with the break; powering up resets the chip.
    void power(bool on);
    void start();
    void stop();
    void scl_rise(bool sda);
    void scl_fall();

    bool pulls_sda_low() const { return powered_ && pull_low_; }
    bool present() const { return setup_.kind != SimChipKind::absent; }

    // Registers as the chip holds them, for tests.
    std::int16_t temperature_register() const { return temperature_; }
    std::uint8_t config_register() const { return config_; }

private:
    enum class State : std::uint8_t { idle, address, address_ack, receive, receive_ack, transmit, transmit_ack };

    void take_byte(std::uint8_t value);
    std::uint8_t byte_to_send(int index) const;
    void drive_bit();

    int address_ = 0x90;
    SimChipSetup setup_{};

    bool powered_ = false;
    bool pull_low_ = false;
    State state_ = State::idle;
    std::uint8_t shift_ = 0;
    int bits_ = 0;
    bool reading_ = false;
    bool master_acked_ = false;
    std::uint8_t command_ = 0;
    int byte_index_ = 0;
    std::uint8_t tx_ = 0;

    std::int16_t temperature_ = 0;
    std::uint8_t config_ = 0;
    std::int16_t th_ = 0x0F00;  // 15 C, the factory setting
    std::int16_t tl_ = 0x0A00;  // 10 C
};

}  // namespace kelvara
